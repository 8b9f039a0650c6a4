#include "host_adapter.h"

#include "application_adapters.h"
#include "feature_adapters.h"
#include "frame_adapters.h"
#include "host_call.h"
#include "win32/win32_runtime.h"

namespace selvane::com {
namespace {

template <typename Interface>
ComRef<Interface> CreateHostObject(REFCLSID clsid, REFIID iid, const char* name) {
    ComRef<Interface> object;
    Check(CoCreateInstance(clsid, nullptr, CLSCTX_ALL, iid, reinterpret_cast<void**>(object.Out())), name);
    return object;
}

class ObjectFactory final : public platform::IObjectFactory {
public:
    std::shared_ptr<platform::IObject> CreateAppRef() override {
        auto object = CreateHostObject<IUnknown>(CLSID_AppRef, IID_IUnknown, "AppRef");
        if (auto application = object.As<::IApplication>(IID_IApplication)) {
            return AdaptApplication(std::move(application));
        }
        return std::make_shared<PlainObject>(std::move(object));
    }
    std::shared_ptr<platform::ISpatialFilter> CreateSpatialFilter() override {
        return AdaptSpatialFilter(
            CreateHostObject<ISpatialFilter>(CLSID_SpatialFilter, IID_ISpatialFilter, "SpatialFilter"));
    }
    std::shared_ptr<platform::IModelessFrame> CreateModelessFrame() override {
        return AdaptModelessFrame(
            CreateHostObject<IModelessFrame>(CLSID_ModelessFrame, IID_IModelessFrame, "ModelessFrame"));
    }
};

}  // namespace

std::shared_ptr<platform::IObject> AdaptHook(IDispatch* hook) {
    auto object = ComRef<::IDispatch>::Share(hook);
    if (auto application = object.As<::IApplication>(IID_IApplication)) {
        // Message boxes belong to the host's main window.
        OLE_HANDLE window = 0;
        auto* runtime = dynamic_cast<win32::Win32Runtime*>(&platform::Runtime());
        if (runtime && SUCCEEDED(application->get_hWnd(&window))) {
            runtime->SetMessageOwner(reinterpret_cast<HWND>(static_cast<INT_PTR>(window)));
        }
        return AdaptApplication(std::move(application));
    }
    return std::make_shared<PlainObject>(object.As<::IUnknown>(IID_IUnknown));
}

std::shared_ptr<platform::IObjectFactory> HostObjectFactory() { return std::make_shared<ObjectFactory>(); }

}  // namespace selvane::com
