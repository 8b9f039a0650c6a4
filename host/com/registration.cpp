#include "registration.h"

#include <olectl.h>

#include <string>

#include "server_identity.h"
#include "server_module.h"
#include "text.h"

namespace selvane::com {
namespace {

namespace names = identity;

bool SetValue(const std::wstring& key, const wchar_t* name, const std::wstring& value) {
    HKEY handle = nullptr;
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &handle, nullptr) !=
        ERROR_SUCCESS) {
        return false;
    }
    const auto bytes = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
    const bool written =
        RegSetValueExW(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()), bytes) == ERROR_SUCCESS;
    RegCloseKey(handle);
    return written;
}

bool DeleteTree(const std::wstring& key) {
    LSTATUS status = RegDeleteTreeW(HKEY_CLASSES_ROOT, key.c_str());
    if (status == ERROR_FILE_NOT_FOUND) return true;
    if (status != ERROR_SUCCESS) return false;
    status = RegDeleteKeyW(HKEY_CLASSES_ROOT, key.c_str());
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

std::wstring ClassKey() { return L"CLSID\\" + Wide(names::kClassId); }

SYSKIND ThisSystem() { return sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32; }

}  // namespace

HRESULT RegisterServer() {
    const auto class_key = ClassKey();
    const auto prog_id = Wide(names::kProgId);
    const bool written = SetValue(class_key, nullptr, prog_id) &&
                         SetValue(class_key + L"\\InprocServer32", nullptr, ModulePath()) &&
                         SetValue(class_key + L"\\InprocServer32", L"ThreadingModel", Wide(names::kThreadingModel)) &&
                         SetValue(class_key + L"\\ProgID", nullptr, prog_id) &&
                         SetValue(class_key + L"\\TypeLib", nullptr, Wide(names::kTypeLibraryId)) &&
                         SetValue(prog_id, nullptr, prog_id) &&
                         SetValue(prog_id + L"\\CLSID", nullptr, Wide(names::kClassId));
    if (!written) return SELFREG_E_CLASS;
    ITypeLib* library = nullptr;
    if (FAILED(LoadTypeLibEx(ModulePath().c_str(), REGKIND_REGISTER, &library))) return SELFREG_E_TYPELIB;
    library->Release();
    return S_OK;
}

HRESULT UnregisterServer() {
    GUID library_id{};
    const auto library_text = Wide(names::kTypeLibraryId);
    HRESULT result = S_OK;
    // Only a registered library is unregistered: systems differ in what they answer for
    // one that is not (Wine says E_INVALIDARG).
    const auto version_key = L"TypeLib\\" + library_text + L"\\" + std::to_wstring(names::kTypeLibraryMajorVersion) +
                             L"." + std::to_wstring(names::kTypeLibraryMinorVersion);
    HKEY registered = nullptr;
    const bool present = RegOpenKeyExW(HKEY_CLASSES_ROOT, version_key.c_str(), 0, KEY_READ, &registered) == ERROR_SUCCESS;
    if (registered) RegCloseKey(registered);
    if (present && SUCCEEDED(CLSIDFromString(library_text.c_str(), &library_id))) {
        const HRESULT removed =
            UnRegisterTypeLib(library_id, names::kTypeLibraryMajorVersion, names::kTypeLibraryMinorVersion,
                              names::kTypeLibraryLocale, ThisSystem());
        if (FAILED(removed)) result = SELFREG_E_TYPELIB;
    }
    if (!DeleteTree(ClassKey()) || !DeleteTree(Wide(names::kProgId))) return SELFREG_E_CLASS;
    return result;
}

}  // namespace selvane::com
