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

}  // namespace selvane::com
