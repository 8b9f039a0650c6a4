#include "check_output.h"

#include <cstdio>

namespace test_host {
namespace {

int g_failures = 0;

}  // namespace

void Expect(bool condition, const std::wstring& what) {
    std::wprintf(L"%ls: %ls\n", condition ? L"ok" : L"FAIL", what.c_str());
    if (!condition) ++g_failures;
}

std::wstring Take(BSTR text) {
    std::wstring value = text ? std::wstring(text, SysStringLen(text)) : std::wstring();
    SysFreeString(text);
    return value;
}

std::wstring VersionText(const std::wstring& path, const wchar_t* name) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    if (size == 0) return L"<no version resource>";
    std::wstring block(size, L'\0');
    if (!GetFileVersionInfoW(path.c_str(), 0, size, block.data())) return L"<unreadable>";
    wchar_t* value = nullptr;
    UINT length = 0;
    const std::wstring key = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
    if (!VerQueryValueW(block.data(), key.c_str(), reinterpret_cast<void**>(&value), &length) || !value) return L"<none>";
    return std::wstring(value);
}

int Failures() { return g_failures; }

}  // namespace test_host
