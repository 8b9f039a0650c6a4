#pragma once

// Text across the COM boundary: BSTRs are UTF-16, the system's strings UTF-8.

#include "win32/windows_include.h"
#include <oleauto.h>

#include <string>

#include "win32/wide_text.h"

namespace selvane::com {

using win32::Utf8;
using win32::Wide;

std::string Utf8(BSTR text);
/// A new BSTR of the text; a null BSTR for empty text, as an empty VB string is.
BSTR NewBstr(const std::string& utf8);

/// Owns one BSTR, freed when the owner goes: one the callee fills (Out), or one made of a
/// text to hand to a call (Get).
class UniqueBstr {
public:
    UniqueBstr() = default;
    explicit UniqueBstr(const std::string& utf8) : m_text(NewBstr(utf8)) {}
    ~UniqueBstr() { SysFreeString(m_text); }
    UniqueBstr(const UniqueBstr&) = delete;
    UniqueBstr& operator=(const UniqueBstr&) = delete;

    BSTR Get() const { return m_text; }
    /// Where a callee puts a new BSTR; the one held before is freed.
    BSTR* Out() {
        SysFreeString(m_text);
        m_text = nullptr;
        return &m_text;
    }
    std::string Text() const { return Utf8(m_text); }

private:
    BSTR m_text = nullptr;
};

}  // namespace selvane::com
