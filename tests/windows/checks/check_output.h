#pragma once

// What every check of the Windows test host prints: one line a check, "ok: ..." or
// "FAIL: ...", and the count of failures that the host returns.

#include <windows.h>
#include <oleauto.h>

#include <string>

#include "selvane_h.h"

namespace test_host {

/// Prints the check's line; counts it when it failed.
void Expect(bool condition, const std::wstring& what);
/// The checks that failed so far.
int Failures();
/// A BSTR's text, the BSTR freed.
std::wstring Take(BSTR text);

/// Checks a text property of the command.
template <typename Get>
void ExpectText(ICommand* command, Get get, const wchar_t* expected, const wchar_t* name) {
    BSTR text = reinterpret_cast<BSTR>(1);
    const HRESULT result = (command->*get)(&text);
    const std::wstring value = Take(text);
    Expect(SUCCEEDED(result) && value == expected, std::wstring(name) + L" is \"" + expected + L"\" (got \"" + value + L"\")");
}

/// A value of a file's version resource (US English, Unicode).
std::wstring VersionText(const std::wstring& path, const wchar_t* name);

}  // namespace test_host
