#include "gis/files/fast_readers.h"

#include "gis/files/geopackage_reader.h"

namespace selvane::gis {
namespace {

constexpr FastReader kFastReaders[] = {
    {"GPKG", ReadGeoPackageRows, true},
    {"SQLite", nullptr, true},
};

}  // namespace

const FastReader* FastReaderOf(std::string_view driver) {
    for (const auto& reader : kFastReaders) {
        if (driver == reader.driver) return &reader;
    }
    return nullptr;
}

}  // namespace selvane::gis
