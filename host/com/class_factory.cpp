#include "class_factory.h"

#include <new>

#include "selvane_h.h"
#include "selvane_object.h"
#include "server_module.h"

namespace selvane::com {
namespace {

// Lives as long as the server: its references keep no object alive, so they do not count
// against unloading; LockServer does.
class ClassFactory final : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (!object) return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IClassFactory) {
            *object = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        InstallHostServices();
        auto* created = new (std::nothrow) SelvaneObject();
        if (!created) return E_OUTOFMEMORY;
        const HRESULT result = created->QueryInterface(iid, object);
        created->Release();
        return result;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        com::LockServer(lock != FALSE);
        return S_OK;
    }
};

}  // namespace

HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (clsid != CLSID_Selvane) return CLASS_E_CLASSNOTAVAILABLE;
    static ClassFactory factory;
    return factory.QueryInterface(iid, object);
}

}  // namespace selvane::com
