// Fuzz target: the map-document reader on any bytes. A document may fail to load, with a
// platform::Error; anything else (a crash, a hang, a sanitizer report) is a fault.

#include <cstddef>
#include <cstdint>
#include <string>

#include "gis/map_document.h"
#include "platform/error.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    try {
        // Sources are taken relative to a folder that holds nothing: the reader's own
        // logic is under test, not the files of the machine.
        selvane::gis::LoadMapDocumentText("/nonexistent-fuzz-folder/map.json", text);
    } catch (const selvane::platform::Error&) {
    }
    return 0;
}
