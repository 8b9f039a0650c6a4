#pragma once

// Case in the ASCII names that data formats and protocols use (extensions, prefixes, SQL
// type names, field names): not a person's text, which the forms runtime compares by locale.

#include <string>
#include <string_view>

namespace selvane::gis {

inline char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

inline std::string AsciiLower(std::string_view text) {
    std::string lower(text);
    for (auto& c : lower) c = AsciiLower(c);
    return lower;
}

inline std::string AsciiUpper(std::string_view text) {
    std::string upper(text);
    for (auto& c : upper) c = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    return upper;
}

inline bool AsciiEqualIgnoringCase(std::string_view left, std::string_view right) {
    if (left.size() != right.size()) return false;
    for (std::size_t index = 0; index < left.size(); ++index) {
        if (AsciiLower(left[index]) != AsciiLower(right[index])) return false;
    }
    return true;
}

inline bool AsciiStartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && AsciiEqualIgnoringCase(text.substr(0, prefix.size()), prefix);
}

}  // namespace selvane::gis
