#pragma once

// A failed call of the host becomes the system's error: the host's own number (its
// HRESULT) and its description, so that the standard report shows what the host said.

#include <cstdint>
#include <string>

#include "platform/error.h"

namespace selvane::com {

/// The error of a failed host call: `hresult` as the number; the host's `description`
/// (from its error info), or else the call's name and the number in hexadecimal.
platform::Error HostError(std::int32_t hresult, const std::string& description, const std::string& call);

}  // namespace selvane::com
