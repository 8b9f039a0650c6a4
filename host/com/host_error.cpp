#include "host_error.h"

#include <cstdio>

namespace selvane::com {

platform::Error HostError(std::int32_t hresult, const std::string& description, const std::string& call) {
    if (!description.empty()) return platform::Error(hresult, description);
    char number[16];
    std::snprintf(number, sizeof number, "%08X", static_cast<unsigned>(hresult));
    return platform::Error(hresult, "The host's " + call + " failed (0x" + number + ")");
}

}  // namespace selvane::com
