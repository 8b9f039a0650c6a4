#pragma once

// Outside text (names, queries, connection strings) as messages and terminals show it:
// bounded, so that a megabyte of name makes no megabyte of message, and with the
// characters that would act on a terminal or reorder a line escaped.

#include <cstddef>
#include <string>
#include <string_view>

namespace selvane::gis {

/// `text` with control characters (C0, DEL, C1) and Unicode's bidirectional controls
/// written as escapes (`\x1b`, `\u202e`), so that printing it can neither move a terminal's
/// cursor nor reverse the text around it. Invalid UTF-8 bytes are escaped as `\xNN`.
std::string Printable(std::string_view text);

/// Printable(text), and when longer than `limit` bytes its middle left out (at character
/// boundaries) with how much was left out.
std::string InMessage(std::string_view text, std::size_t limit = 300);

}  // namespace selvane::gis
