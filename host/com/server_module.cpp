#include "server_module.h"

#include <atomic>
#include <memory>

#include "class_factory.h"
#include "host_adapter.h"
#include "registration.h"
#include "win32/win32_runtime.h"

namespace selvane::com {
namespace {

HINSTANCE g_module = nullptr;
std::atomic<long> g_objects{0};
std::atomic<long> g_locks{0};

}  // namespace

HINSTANCE ModuleInstance() { return g_module; }

std::wstring ModulePath() {
    std::wstring path(MAX_PATH, L'\0');
    while (true) {
        const DWORD length = GetModuleFileNameW(g_module, path.data(), static_cast<DWORD>(path.size()));
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

void ObjectCreated() { ++g_objects; }
void ObjectDestroyed() { --g_objects; }
void LockServer(bool lock) { lock ? ++g_locks : --g_locks; }
bool CanUnload() { return g_objects == 0 && g_locks == 0; }

void InstallHostServices() {
    static bool installed = false;
    if (installed) return;
    platform::InstallRuntime(std::make_shared<win32::Win32Runtime>(g_module));
    platform::InstallObjectFactory(HostObjectFactory());
    installed = true;
}

}  // namespace selvane::com

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        selvane::com::g_module = instance;
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

STDAPI DllCanUnloadNow() { return selvane::com::CanUnload() ? S_OK : S_FALSE; }

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** object) {
    return selvane::com::GetClassObject(clsid, iid, object);
}

STDAPI DllRegisterServer() { return selvane::com::RegisterServer(); }

STDAPI DllUnregisterServer() { return selvane::com::UnregisterServer(); }
