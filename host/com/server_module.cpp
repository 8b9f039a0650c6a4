#include "server_module.h"

#include <atomic>
#include <memory>

#include "class_factory.h"
#include "host_adapter.h"
#include "registration.h"
#include "state/shared_state.h"
#include "win32/win32_form.h"
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
void ObjectDestroyed() {
    // With the last command goes the hidden form that held the commands' bitmap: no host
    // asks a command it has released for its bitmap, and its window would keep the module
    // loaded.
    if (--g_objects == 0) state::ResourceForm.reset();
}
void LockServer(bool lock) { lock ? ++g_locks : --g_locks; }
bool CanUnload() { return g_objects == 0 && g_locks == 0 && win32::OpenFormWindows() == 0; }

void InstallHostServices() {
    static bool installed = false;
    if (installed) return;
    platform::InstallRuntime(std::make_shared<win32::Win32Runtime>(g_module));
    platform::InstallObjectFactory(HostObjectFactory());
    installed = true;
}

}  // namespace selvane::com

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        selvane::com::g_module = instance;
        DisableThreadLibraryCalls(instance);
    }
    // Unloaded by FreeLibrary (not by the process ending): a module loaded again, at the
    // same address or another, registers the forms' class anew.
    if (reason == DLL_PROCESS_DETACH && !reserved) selvane::win32::UnregisterFormClass(instance);
    return TRUE;
}

STDAPI DllCanUnloadNow() { return selvane::com::CanUnload() ? S_OK : S_FALSE; }

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** object) {
    return selvane::com::GetClassObject(clsid, iid, object);
}

STDAPI DllRegisterServer() { return selvane::com::RegisterServer(); }

STDAPI DllUnregisterServer() { return selvane::com::UnregisterServer(); }
