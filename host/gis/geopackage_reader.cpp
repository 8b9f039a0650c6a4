#include "gis/geopackage_reader.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <vector>

#include "gis/shape.h"
#include "gis/slices.h"
#include "gis/sqlite_database.h"

namespace selvane::gis {
namespace {

// The blobs of a table, packed one after another.
struct Blobs {
    std::vector<std::int64_t> fids;
    std::vector<std::size_t> starts;  // one more than rows: the end of the last
    std::vector<unsigned char> bytes;
    std::vector<bool> present;        // false for a NULL shape
};

std::optional<Blobs> ReadBlobs(const std::string& path, const std::string& table, const std::string& fid_column,
                               const std::string& geometry_column) {
    ReadOnlyDatabase opened(path);
    sqlite3* database = opened.Handle();
    if (!database) return std::nullopt;
    // Simple feature types without measures only; anything else goes through GDAL.
    const std::string check = "SELECT geometry_type_name, m FROM gpkg_geometry_columns WHERE table_name = ? "
                              "AND column_name = ?";
    auto statement = Prepare(database, check);
    if (!statement) return std::nullopt;
    sqlite3_bind_text(statement.get(), 1, table.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(statement.get(), 2, geometry_column.c_str(), -1, SQLITE_TRANSIENT);
    if (sqlite3_step(statement.get()) != SQLITE_ROW) return std::nullopt;
    const auto* type_text = reinterpret_cast<const char*>(sqlite3_column_text(statement.get(), 0));
    std::string type = type_text ? type_text : "";
    std::transform(type.begin(), type.end(), type.begin(), [](unsigned char c) { return std::toupper(c); });
    static const char* kSimple[] = {"POINT", "LINESTRING", "POLYGON", "MULTIPOINT", "MULTILINESTRING", "MULTIPOLYGON"};
    if (std::none_of(std::begin(kSimple), std::end(kSimple), [&](const char* simple) { return type == simple; }) ||
        sqlite3_column_int(statement.get(), 1) != 0) {
        return std::nullopt;
    }

    const std::string select = "SELECT " + QuotedIdentifier(fid_column) + ", " + QuotedIdentifier(geometry_column) +
                               " FROM " + QuotedIdentifier(table);
    statement = Prepare(database, select);
    if (!statement) return std::nullopt;
    Blobs blobs;
    blobs.starts.push_back(0);
    int step = SQLITE_ROW;
    while ((step = sqlite3_step(statement.get())) == SQLITE_ROW) {
        blobs.fids.push_back(sqlite3_column_int64(statement.get(), 0));
        const bool present = sqlite3_column_type(statement.get(), 1) == SQLITE_BLOB;
        blobs.present.push_back(present);
        if (present) {
            const auto* data = static_cast<const unsigned char*>(sqlite3_column_blob(statement.get(), 1));
            const int size = sqlite3_column_bytes(statement.get(), 1);
            blobs.bytes.insert(blobs.bytes.end(), data, data + size);
        }
        blobs.starts.push_back(blobs.bytes.size());
    }
    if (step != SQLITE_DONE) return std::nullopt;
    return blobs;
}

}  // namespace

std::unique_ptr<geos::geom::Geometry> ParseGeoPackageBlob(const unsigned char* blob, std::size_t size,
                                                          geos::io::WKBReader& reader) {
    if (size < 8 || blob[0] != 'G' || blob[1] != 'P' || blob[2] != 0) return nullptr;
    const unsigned flags = blob[3];
    if (flags & 0x20) return nullptr;  // an extended (non-standard) geometry type
    static const std::size_t kEnvelopeBytes[] = {0, 32, 48, 48, 64};
    const unsigned envelope = (flags >> 1) & 0x07;
    if (envelope > 4) return nullptr;
    const std::size_t header = 8 + kEnvelopeBytes[envelope];
    if (size <= header) return nullptr;
    auto geometry = reader.read(blob + header, size - header);
    // An empty shape is flagged as such; an empty point is written with NaN coordinates.
    if ((flags & 0x10) && !geometry->isEmpty()) {
        if (geometry->getGeometryTypeId() != geos::geom::GeometryTypeId::GEOS_POINT) return nullptr;
        return Shape::Factory().createPoint();
    }
    return geometry;
}

std::optional<FeatureRows> ReadGeoPackageRows(const std::string& path, const std::string& table,
                                              const std::string& fid_column, const std::string& geometry_column) {
    auto blobs = ReadBlobs(path, table, fid_column, geometry_column);
    if (!blobs) return std::nullopt;
    const std::size_t rows = blobs->fids.size();
    std::vector<std::unique_ptr<geos::geom::Geometry>> shapes(rows);
    std::atomic<bool> failed{false};
    // Parsing is most of the cost, and each row stands alone: a slice of rows a core.
    InSlices(rows, ThreadsFor(rows, 20000), [&](std::size_t, std::size_t begin, std::size_t end) {
        geos::io::WKBReader reader(Shape::Factory());
        for (std::size_t row = begin; row < end && !failed; ++row) {
            if (!blobs->present[row]) continue;
            const std::size_t start = blobs->starts[row];
            try {
                shapes[row] = ParseGeoPackageBlob(blobs->bytes.data() + start, blobs->starts[row + 1] - start, reader);
            } catch (const std::exception&) {
                shapes[row] = nullptr;
            }
            if (!shapes[row]) failed = true;
        }
    });
    if (failed) return std::nullopt;
    return FeatureRows{std::move(blobs->fids), std::move(shapes)};
}

}  // namespace selvane::gis
