// Fuzz target: what a map document hands the database layer as text of its own: a
// definition query (its first byte even) or a connection string (odd). Either may be
// refused with a platform::Error; anything else (a crash, a hang, a sanitizer report, a
// written-back filter that reads back as another) is a fault.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "gis/postgis/connection_options.h"
#include "gis/postgis/definition_filter.h"
#include "platform/error.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    try {
        if (data[0] % 2 == 0) {
            static const selvane::gis::FilterScope kScope{"public", {"fid", "zone", "geom", "Name"}};
            const auto filter = selvane::gis::DefinitionFilter(text, kScope);
            // What was checked is what runs: the filter written back reads back as itself.
            std::string again;
            try {
                again = selvane::gis::DefinitionFilter(filter, kScope);
            } catch (const selvane::platform::Error&) {
                return 0;  // longer once its functions name their schema
            }
            if (again != filter) std::abort();
        } else {
            std::string fault;
            selvane::gis::ConnectionOptions("PG:" + text, fault);
        }
    } catch (const selvane::platform::Error&) {
    }
    return 0;
}
