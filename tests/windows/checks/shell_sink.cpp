#include "shell_sink.h"

#include <windows.h>

#include <cstring>
#include <utility>

namespace test_host {
namespace {

std::vector<std::string> g_targets;

HINSTANCE WINAPI RecordShellExecute(HWND, LPCSTR, LPCSTR file, LPCSTR, LPCSTR, INT) {
    g_targets.push_back(file ? file : "");
    return reinterpret_cast<HINSTANCE>(static_cast<INT_PTR>(42));  // above 32: success
}

}  // namespace

bool InterceptShellOpen() {
    auto* base = reinterpret_cast<BYTE*>(GetModuleHandleW(L"Selvane.dll"));
    if (!base) return false;
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const auto& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (imports.VirtualAddress == 0) return false;
    for (auto* library = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress); library->Name;
         ++library) {
        if (_stricmp(reinterpret_cast<const char*>(base + library->Name), "shell32.dll") != 0) continue;
        if (!library->OriginalFirstThunk) continue;
        auto* name = reinterpret_cast<IMAGE_THUNK_DATA*>(base + library->OriginalFirstThunk);
        auto* address = reinterpret_cast<IMAGE_THUNK_DATA*>(base + library->FirstThunk);
        for (; name->u1.AddressOfData; ++name, ++address) {
            if (IMAGE_SNAP_BY_ORDINAL(name->u1.Ordinal)) continue;
            const auto* by_name = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + name->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<const char*>(by_name->Name), "ShellExecuteA") != 0) continue;
            DWORD protection = 0;
            if (!VirtualProtect(&address->u1.Function, sizeof address->u1.Function, PAGE_READWRITE, &protection)) {
                return false;
            }
            address->u1.Function = reinterpret_cast<ULONG_PTR>(&RecordShellExecute);
            VirtualProtect(&address->u1.Function, sizeof address->u1.Function, protection, &protection);
            return true;
        }
    }
    return false;
}

std::vector<std::string> TakeShellTargets() { return std::exchange(g_targets, {}); }

}  // namespace test_host
