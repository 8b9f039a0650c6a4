#include "class_factory.h"

#include <new>

#include "com_object.h"
#include "selvane_h.h"
#include "selvane_object.h"
#include "server_module.h"

namespace selvane::com {

HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (clsid != CLSID_Selvane) return CLASS_E_CLASSNOTAVAILABLE;
    static ClassObject factory(
        []() -> IUnknown* {
            InstallHostServices();
            return static_cast<_Selvane*>(new (std::nothrow) SelvaneObject());
        },
        [](bool lock) { LockServer(lock); });
    return factory.QueryInterface(iid, object);
}

}  // namespace selvane::com
