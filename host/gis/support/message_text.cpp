#include "gis/support/message_text.h"

namespace selvane::gis {

std::string InMessage(std::string_view text, std::size_t limit) {
    const std::string printable = Printable(text);
    if (printable.size() <= limit) return printable;
    // Keep both ends, cut where a character starts.
    const auto boundary = [&printable](std::size_t at) {
        while (at > 0 && (static_cast<unsigned char>(printable[at]) >> 6) == 0x2) --at;
        return at;
    };
    const std::size_t head = boundary(limit / 2);
    const std::size_t tail = boundary(printable.size() - limit / 2);
    return printable.substr(0, head) + "…(" + std::to_string(tail - head) + " bytes left out)…" +
           printable.substr(tail);
}

}  // namespace selvane::gis
