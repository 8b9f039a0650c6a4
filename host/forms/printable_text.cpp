#include "forms/printable_text.h"

#include <cstdint>
#include <cstdio>

namespace selvane::forms {
namespace {

// The length of the UTF-8 sequence starting at `at` and its code point; 0 for a byte that
// starts no valid sequence.
std::size_t Sequence(std::string_view text, std::size_t at, std::uint32_t& code) {
    const auto byte = static_cast<unsigned char>(text[at]);
    std::size_t length = byte < 0x80 ? 1 : (byte >> 5) == 0x6 ? 2 : (byte >> 4) == 0xE ? 3 : (byte >> 3) == 0x1E ? 4 : 0;
    if (length == 0 || at + length > text.size()) return 0;
    code = length == 1 ? byte : length == 2 ? byte & 0x1F : length == 3 ? byte & 0x0F : byte & 0x07;
    for (std::size_t index = 1; index < length; ++index) {
        const auto next = static_cast<unsigned char>(text[at + index]);
        if ((next >> 6) != 0x2) return 0;
        code = (code << 6) | (next & 0x3F);
    }
    return length;
}

bool Hidden(std::uint32_t code) {
    // Controls, the line and paragraph separators (which break a line where none was), and
    // the bidirectional marks and overrides.
    return code < 0x20 || code == 0x7F || (code >= 0x80 && code < 0xA0) || code == 0x061C || code == 0x200E ||
           code == 0x200F || (code >= 0x2028 && code <= 0x202E) || (code >= 0x2066 && code <= 0x2069);
}

void Escape(std::string& out, std::uint32_t code, bool byte) {
    char text[12];
    if (byte || code < 0x100) {
        std::snprintf(text, sizeof text, "\\x%02x", static_cast<unsigned>(code));
    } else {
        std::snprintf(text, sizeof text, "\\u%04x", static_cast<unsigned>(code));
    }
    out += text;
}

}  // namespace

std::string Printable(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        std::uint32_t code = 0;
        const std::size_t length = Sequence(text, at, code);
        if (length == 0) {
            Escape(out, static_cast<unsigned char>(text[at]), true);
            ++at;
        } else if (Hidden(code)) {
            Escape(out, code, false);
            at += length;
        } else {
            out.append(text.substr(at, length));
            at += length;
        }
    }
    return out;
}

std::string PrintableLines(std::string_view text) {
    std::string shown;
    shown.reserve(text.size());
    std::size_t start = 0;
    while (true) {
        const auto end = text.find('\n', start);
        auto line = text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
        const bool carriage = !line.empty() && line.back() == '\r' && end != std::string_view::npos;
        if (carriage) line.remove_suffix(1);
        shown += Printable(line);
        if (end == std::string_view::npos) return shown;
        shown += carriage ? "\r\n" : "\n";
        start = end + 1;
    }
}

}  // namespace selvane::forms
