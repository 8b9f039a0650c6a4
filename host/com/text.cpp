#include "text.h"

namespace selvane::com {

std::string Utf8(BSTR text) { return text ? Utf8(std::wstring(text, SysStringLen(text))) : std::string(); }

BSTR NewBstr(const std::string& utf8) {
    if (utf8.empty()) return nullptr;
    const auto wide = Wide(utf8);
    return SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
}

}  // namespace selvane::com
