#pragma once

// Outside text (layer names, messages that quote them) as a terminal or a window shows it:
// with the characters that would act on a terminal or reorder a line escaped.

#include <string>
#include <string_view>

namespace selvane::forms {

/// `text` with control characters (C0, DEL, C1) and Unicode's bidirectional controls
/// written as escapes (`\x1b`, `\u202e`), so that printing it can neither move a terminal's
/// cursor nor reverse the text around it. Invalid UTF-8 bytes are escaped as `\xNN`.
std::string Printable(std::string_view text);

/// Printable line by line: the line breaks of a message ("\n", "\r\n") stay, everything
/// else that Printable escapes is escaped.
std::string PrintableLines(std::string_view text);

}  // namespace selvane::forms
