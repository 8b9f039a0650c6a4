#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace selvane::platform {

/// HRESULT-style failure numbers used by the stand-ins. Platform failures are negative.
inline constexpr std::int32_t kFail = static_cast<std::int32_t>(0x80004005u);        // E_FAIL
inline constexpr std::int32_t kNoInterface = static_cast<std::int32_t>(0x80004002u); // E_NOINTERFACE
inline constexpr std::int32_t kInvalidArg = static_cast<std::int32_t>(0x80070057u);  // E_INVALIDARG
inline constexpr std::int32_t kPointer = static_cast<std::int32_t>(0x80004003u);     // E_POINTER
inline constexpr std::int32_t kUnexpected = static_cast<std::int32_t>(0x8000FFFFu);  // E_UNEXPECTED
inline constexpr std::int32_t kOutOfMemory = static_cast<std::int32_t>(0x8007000Eu); // E_OUTOFMEMORY
/// The forms runtime's own number for a property given a value it cannot take (a text
/// that is not an entry of a drop-down list).
inline constexpr std::int32_t kInvalidPropertyValue = 380;

/// The failure of a platform call: a 32-bit number and a description, as the error
/// state of the forms runtime exposes them to a trapping procedure.
class Error : public std::runtime_error {
public:
    Error(std::int32_t number, const std::string& description)
        : std::runtime_error(description), m_number(number) {}

    /// The failure's number (negative for platform failures).
    std::int32_t Number() const noexcept { return m_number; }
    /// The failure's description; may be empty.
    std::string Description() const { return what(); }

private:
    std::int32_t m_number;
};

}  // namespace selvane::platform
