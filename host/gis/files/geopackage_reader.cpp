#include "gis/files/geopackage_reader.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <system_error>
#include <thread>
#include <sstream>
#include <vector>

#include "gis/support/ascii_case.h"
#include "gis/geometry/shape.h"
#include "gis/support/slices.h"
#include "gis/wkb/wkb_outline.h"
#include "gis/files/rowid_slices.h"
#include "gis/files/sqlite_database.h"
#include "platform/error.h"

namespace selvane::gis {
namespace {

// The blobs of a table, packed one after another.
// A row's kind when its blob was a single point, taken as its two numbers (none of
// SQLite's types, which count from 1).
constexpr std::uint8_t kPointRow = 0;

struct Blobs {
    // Each row's id; a single point's coordinates, taken as its row is stepped to instead of
    // copying its blob (where the table may hold points); any other shape given once parsed.
    FeatureRows rows;
    ByteBlocks bytes;
    // A row each: its blob, or null; once parsed, the blob's WKB where the class keeps it
    // (and a size of 0 where it does not).
    std::vector<const unsigned char*> at;
    std::vector<std::uint32_t> sizes;
    std::vector<std::uint8_t> kinds;  // SQLite's type of each row's value (a blob, NULL or other), or kPointRow
    ShapeDimension declared = ShapeDimension::Mixed;

    bool MayHoldPoints() const { return declared == ShapeDimension::Point || declared == ShapeDimension::Mixed; }
    // Room for `rows` rows, so that stepping through them does not copy the rows read so far.
    void Reserve(std::size_t rows_to_come) {
        rows.Reserve(rows_to_come, MayHoldPoints());
        at.reserve(rows_to_come);
        sizes.reserve(rows_to_come);
        kinds.reserve(rows_to_come);
    }
};

// Rows to make room for ahead: a range of rowids holds at most its span, but rowids may be
// sparse, and room costs address space (untouched pages are free, an address space is not).
constexpr std::uint64_t kMostRowsReserved = std::uint64_t{1} << 22;

std::size_t RowsToReserve(const RowidRange& range) {
    const std::uint64_t span = static_cast<std::uint64_t>(range.last) - static_cast<std::uint64_t>(range.first);
    return static_cast<std::size_t>(std::min(span, kMostRowsReserved - 1) + 1);
}

// The rowids of every range together.
RowidRange WholeSpan(const std::vector<RowidRange>& ranges) { return {ranges.front().first, ranges.back().last}; }

// The table's declared shape type, when this reader reads it: simple feature types
// without measures; curves and measured types go through GDAL.
std::optional<ShapeDimension> DeclaredDimension(sqlite3* database, const std::string& table,
                                                const std::string& geometry_column) {
    auto statement = Prepare(database,
                             "SELECT geometry_type_name, m FROM gpkg_geometry_columns WHERE table_name = ? "
                             "AND column_name = ?");
    if (!statement) return std::nullopt;
    sqlite3_bind_text(statement.get(), 1, table.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(statement.get(), 2, geometry_column.c_str(), -1, SQLITE_TRANSIENT);
    if (sqlite3_step(statement.get()) != SQLITE_ROW || sqlite3_column_int(statement.get(), 1) != 0) {
        return std::nullopt;
    }
    const auto* type_text = reinterpret_cast<const char*>(sqlite3_column_text(statement.get(), 0));
    const std::string type = AsciiUpper(type_text ? type_text : "");
    if (type == "POINT" || type == "MULTIPOINT") return ShapeDimension::Point;
    if (type == "LINESTRING" || type == "MULTILINESTRING") return ShapeDimension::Line;
    if (type == "POLYGON" || type == "MULTIPOLYGON") return ShapeDimension::Area;
    if (type == "GEOMETRY" || type == "GEOMETRYCOLLECTION") return ShapeDimension::Mixed;
    return std::nullopt;
}

// A blob of one finite 2D point without an envelope in its header (how tables of points
// are written) read as its two coordinates, without a GEOS object or an allocation;
// nullopt for every other blob, which the full parse reads and checks. Only asked of a
// table that may hold points.
std::optional<PlainPoint> PlainPointOfBlob(const unsigned char* blob, std::size_t size) {
    // The 8-byte header ('GP', version 0, flags), then the WKB: byte order, type, x, y.
    constexpr std::size_t kPointBlob = 8 + 1 + 4 + 8 + 8;
    if (size != kPointBlob || blob[0] != 'G' || blob[1] != 'P' || blob[2] != 0) return std::nullopt;
    // Flags: extended type (0x20), empty (0x10), an envelope (bits 1 to 3).
    if ((blob[3] & 0x3E) != 0) return std::nullopt;
    return PlainPointOfWkb(blob + 8, size - 8);
}

// Steps through `statement`'s rows (id, geometry) into `blobs`; false when SQLite fails.
bool StepBlobs(sqlite3* database, sqlite3_stmt* statement, Blobs& blobs) {
    const bool may_hold_points = blobs.MayHoldPoints();
    int step = SQLITE_ROW;
    while ((step = sqlite3_step(statement)) == SQLITE_ROW) {
        const std::int64_t fid = sqlite3_column_int64(statement, 0);
        const int kind = sqlite3_column_type(statement, 1);
        const unsigned char* data = nullptr;
        std::size_t size = 0;
        if (kind == SQLITE_BLOB) {
            data = static_cast<const unsigned char*>(sqlite3_column_blob(statement, 1));
            size = static_cast<std::size_t>(sqlite3_column_bytes(statement, 1));
            // SQLite found no memory for the blob: the row is not at fault.
            if (!data && sqlite3_errcode(database) == SQLITE_NOMEM) throw std::bad_alloc();
        }
        const auto point = may_hold_points && data ? PlainPointOfBlob(data, size) : std::nullopt;
        if (point) {
            blobs.rows.AddPoint(fid, *point);
            data = nullptr;  // nothing of the blob to keep
        } else {
            blobs.rows.AddNone(fid);
        }
        blobs.kinds.push_back(point ? kPointRow : static_cast<std::uint8_t>(kind));
        blobs.at.push_back(data ? blobs.bytes.Copy(data, size) : nullptr);
        blobs.sizes.push_back(data ? static_cast<std::uint32_t>(size) : 0);
    }
    if (step == SQLITE_NOMEM) throw std::bad_alloc();
    return step == SQLITE_DONE;
}

// Reads the rows of `ranges` into `blobs`, in order, a range a connection, every connection
// in the snapshot of `database`'s. Nothing when no other connection joined it (one
// statement then reads the table); false when SQLite failed.
std::optional<bool> ReadInSlices(const std::string& path, sqlite3* database, const std::string& select,
                                 const std::vector<RowidRange>& ranges, Blobs& blobs, EngineTuning* tuning) {
    SnapshotHelpers helpers(database, path, ranges.size() - 1, tuning ? tuning->snapshot_gap.load() : nullptr);
    if (!helpers.Joined()) return std::nullopt;
    const std::string ranged = select + " WHERE _rowid_ BETWEEN ?1 AND ?2";
    struct Slice {
        Blobs blobs;
        bool read = false;
        std::exception_ptr failure;  // no memory: no fault of the rows'
    };
    std::vector<Slice> slices(ranges.size());
    // The first slice's rows become the table's, with room for every range's: the others are
    // appended without moving them.
    slices[0].blobs = std::move(blobs);
    for (std::size_t index = 1; index < slices.size(); ++index) slices[index].blobs.declared = slices[0].blobs.declared;
    const auto read = [&](std::size_t index, sqlite3* connection) noexcept {
        auto& slice = slices[index];
        try {
            slice.blobs.Reserve(RowsToReserve(index == 0 ? WholeSpan(ranges) : ranges[index]));
            auto statement = Prepare(connection, ranged);
            if (!statement) return;
            sqlite3_bind_int64(statement.get(), 1, ranges[index].first);
            sqlite3_bind_int64(statement.get(), 2, ranges[index].last);
            slice.read = StepBlobs(connection, statement.get(), slice.blobs);
        } catch (...) {
            slice.failure = std::current_exception();
        }
    };
    {
        std::vector<std::jthread> threads;  // joined on leaving the block
        threads.reserve(ranges.size());
        std::vector<std::size_t> left_to_main{0};
        for (std::size_t index = 1; index < ranges.size(); ++index) {
            sqlite3* helper = helpers.At(index - 1);
            try {
                if (helper) {
                    threads.emplace_back(read, index, helper);
                    continue;
                }
            } catch (const std::system_error&) {
            }
            left_to_main.push_back(index);
        }
        for (const auto index : left_to_main) read(index, database);
    }
    if (tuning) ++tuning->tables_read_in_slices;
    for (auto& slice : slices) {
        if (slice.failure) std::rethrow_exception(slice.failure);
    }
    if (!std::all_of(slices.begin(), slices.end(), [](const Slice& slice) { return slice.read; })) return false;
    std::size_t rows = 0;
    for (const auto& slice : slices) rows += slice.blobs.rows.Count();
    blobs = std::move(slices[0].blobs);
    blobs.Reserve(rows);
    for (std::size_t index = 1; index < slices.size(); ++index) {
        auto& part = slices[index].blobs;
        blobs.rows.Append(std::move(part.rows));
        blobs.at.insert(blobs.at.end(), part.at.begin(), part.at.end());
        blobs.sizes.insert(blobs.sizes.end(), part.sizes.begin(), part.sizes.end());
        blobs.kinds.insert(blobs.kinds.end(), part.kinds.begin(), part.kinds.end());
        blobs.bytes.Adopt(std::move(part.bytes));  // the copies stay where they are
        part = Blobs{};
    }
    return true;
}

std::optional<Blobs> ReadBlobs(const std::string& path, const std::string& table, const std::string& fid_column,
                               const std::string& geometry_column, EngineTuning* tuning) {
    ReadOnlyDatabase opened(path);
    sqlite3* database = opened.Handle();
    if (!database) return std::nullopt;
    const auto declared = DeclaredDimension(database, table, geometry_column);
    if (!declared) return std::nullopt;

    const std::string select = "SELECT " + QuotedIdentifier(fid_column) + ", " + QuotedIdentifier(geometry_column) +
                               " FROM " + QuotedIdentifier(table);
    Blobs blobs;
    blobs.declared = *declared;
    const auto ranges = SlicesOf(database, table, tuning ? tuning->rowid_slices.load() : 0);
    if (ranges.size() > 1) {
        if (const auto read = ReadInSlices(path, database, select, ranges, blobs, tuning)) {
            if (!*read) return std::nullopt;
            return blobs;
        }
    }
    if (!ranges.empty()) blobs.Reserve(RowsToReserve(WholeSpan(ranges)));
    auto statement = Prepare(database, select);
    if (!statement || !StepBlobs(database, statement.get(), blobs)) return std::nullopt;
    return blobs;
}

// A double of the blob's header's envelope in the given byte order.
double BlobDouble(const unsigned char* at, bool little) {
    unsigned char bytes[8];
    for (int index = 0; index < 8; ++index) bytes[index] = little ? at[index] : at[7 - index];
    if constexpr (std::endian::native == std::endian::big) std::reverse(std::begin(bytes), std::end(bytes));
    double value;
    std::memcpy(&value, bytes, sizeof value);
    return value;
}

// The envelope a blob's header gives (minx, maxx, miny, maxy) must hold the shape: GDAL
// and other readers filter by it, so a false one would hide the shape from them.
void RequireEnvelopeHolds(const unsigned char* envelope, bool little, const geos::geom::Geometry& shape) {
    const double min_x = BlobDouble(envelope, little), max_x = BlobDouble(envelope + 8, little);
    const double min_y = BlobDouble(envelope + 16, little), max_y = BlobDouble(envelope + 24, little);
    // NaN is how writers give the envelope of an empty shape; coordinates that are not
    // finite are named later for what they are.
    if (shape.isEmpty() || std::isnan(min_x) || std::isnan(max_x) || std::isnan(min_y) || std::isnan(max_y)) return;
    const auto* actual = shape.getEnvelopeInternal();
    if (actual->isNull() || std::isnan(actual->getMinX()) || std::isnan(actual->getMaxX()) ||
        std::isnan(actual->getMinY()) || std::isnan(actual->getMaxY())) {
        return;
    }
    if (actual->getMinX() >= min_x && actual->getMaxX() <= max_x && actual->getMinY() >= min_y &&
        actual->getMaxY() <= max_y) {
        return;
    }
    std::ostringstream text;
    text.precision(17);
    text << "the envelope in its header (" << min_x << " " << min_y << ", " << max_x << " " << max_y
         << ") does not hold the shape (" << actual->getMinX() << " " << actual->getMinY() << ", "
         << actual->getMaxX() << " " << actual->getMaxY() << ")";
    throw ShapeBytesFault(text.str());
}

bool OfDimension(WkbType type, ShapeDimension dimension) {
    return dimension == ShapeDimension::Mixed || DimensionOfWkb(type) == dimension;
}


const char* DimensionWords(ShapeDimension dimension) {
    switch (dimension) {
        case ShapeDimension::Point: return "a table of points";
        case ShapeDimension::Line: return "a table of lines";
        case ShapeDimension::Area: return "a table of polygons";
        case ShapeDimension::Mixed: break;
    }
    return "this table";
}

// ParseGeoPackageBlob; `wkb`, when given, is set to the blob's WKB where the shape given is
// what GEOS reads from those bytes, and left empty otherwise.
std::unique_ptr<geos::geom::Geometry> ParseBlob(const unsigned char* blob, std::size_t size,
                                                geos::io::WKBReader& reader, ShapeDimension declared,
                                                std::span<const unsigned char>* wkb) {
    if (size < 8) {
        throw ShapeBytesFault(size == 0 ? std::string("an empty blob, not a GeoPackage geometry")
                                        : "a blob of " + std::to_string(size) +
                                              " bytes, shorter than a GeoPackage geometry header (8)");
    }
    if (blob[0] != 'G' || blob[1] != 'P') throw ShapeBytesFault("not a GeoPackage geometry (no 'GP' at its start)");
    if (blob[2] != 0) {
        throw ShapeBytesFault("GeoPackage geometry version " + std::to_string(blob[2]) + " (only 0 is known)");
    }
    const unsigned flags = blob[3];
    if (flags & 0x20) return nullptr;  // an extended (non-standard) geometry type
    static const std::size_t kEnvelopeBytes[] = {0, 32, 48, 48, 64};
    const unsigned envelope = (flags >> 1) & 0x07;
    if (envelope > 4) throw ShapeBytesFault("envelope kind " + std::to_string(envelope) + " in the header (0 to 4 are known)");
    const std::size_t header = 8 + kEnvelopeBytes[envelope];
    if (size < header) {
        throw ShapeBytesFault("truncated: the header needs " + std::to_string(header) + " bytes, the blob has " +
                              std::to_string(size));
    }
    if (size == header) throw ShapeBytesFault("a header without a shape after it");
    const auto outline = OutlineWkb(blob + header, size - header);
    if (outline.curved || outline.measured) return nullptr;
    if (!OfDimension(outline.type, declared)) {
        throw ShapeBytesFault("a " + WkbTypeName(outline.type) + " in " + DimensionWords(declared));
    }
    std::unique_ptr<geos::geom::Geometry> geometry;
    try {
        geometry = reader.read(blob + header, outline.size);
    } catch (const geos::util::GEOSException& error) {
        throw ShapeBytesFault(error.what());
    }
    if (envelope > 0) RequireEnvelopeHolds(blob + 8, (flags & 0x01) != 0, *geometry);
    // An empty shape is flagged as such; an empty point is written with NaN coordinates.
    if ((flags & 0x10) && !geometry->isEmpty()) {
        if (geometry->getGeometryTypeId() != geos::geom::GeometryTypeId::GEOS_POINT) {
            throw ShapeBytesFault("flagged empty, yet a " + WkbTypeName(outline.type) + " with coordinates");
        }
        return Shape::Factory().createPoint();
    }
    if (wkb) *wkb = {blob + header, outline.size};
    return geometry;
}

// The WKB of a blob whose shape the class keeps as bytes (any but a single point), when
// one walk of the bytes shows that GEOS reads it as it stands and that the header's
// envelope holds it; nullopt leaves the blob to ParseBlob, which decides and names any
// fault. Most blobs of lines and polygons are read so, without making a GEOS shape.
std::optional<std::span<const unsigned char>> CheckedBlobWkb(const unsigned char* blob, std::size_t size,
                                                             ShapeDimension declared) {
    if (size < 8 || blob[0] != 'G' || blob[1] != 'P' || blob[2] != 0) return std::nullopt;
    const unsigned flags = blob[3];
    if (flags & 0x30) return std::nullopt;  // an extended type, or flagged empty
    static const std::size_t kEnvelopeBytes[] = {0, 32, 48, 48, 64};
    const unsigned envelope = (flags >> 1) & 0x07;
    if (envelope > 4) return std::nullopt;
    const std::size_t header = 8 + kEnvelopeBytes[envelope];
    if (size <= header) return std::nullopt;
    const auto readable = CheckReadableWkb(blob + header, size - header);
    if (!readable || readable->outline.type == WkbType::Point || !OfDimension(readable->outline.type, declared) ||
        !readable->extent.finite) {
        return std::nullopt;
    }
    const auto& box = readable->extent.box;
    if (envelope > 0 && !box.isNull()) {
        const bool little = (flags & 0x01) != 0;
        const double min_x = BlobDouble(blob + 8, little), max_x = BlobDouble(blob + 16, little);
        const double min_y = BlobDouble(blob + 24, little), max_y = BlobDouble(blob + 32, little);
        // The box holds every coordinate, the holes' too: where the header's envelope
        // does not hold it, ParseBlob decides by GEOS's envelope, as it always has.
        if (!(box.getMinX() >= min_x && box.getMaxX() <= max_x && box.getMinY() >= min_y && box.getMaxY() <= max_y)) {
            return std::nullopt;
        }
    }
    return std::span<const unsigned char>(blob + header, readable->outline.size);
}

}  // namespace

std::unique_ptr<geos::geom::Geometry> ParseGeoPackageBlob(const unsigned char* blob, std::size_t size,
                                                          geos::io::WKBReader& reader, ShapeDimension declared) {
    return ParseBlob(blob, size, reader, declared, nullptr);
}

namespace {

// The parsed shapes given to their rows: a blob's WKB copied into the rows' store (each
// block of blobs freed as soon as its rows are copied, so that the blobs' headers, most
// with an envelope, are not kept and the two copies are never whole at once), or a shape
// GEOS made.
FeatureRows RowsOf(Blobs& blobs, std::vector<std::unique_ptr<geos::geom::Geometry>>& shapes) {
    std::size_t block = 0;
    for (std::size_t row = 0; row < blobs.at.size(); ++row) {
        const auto* at = blobs.at[row];
        if (!at) {
            blobs.rows.SetShape(row, std::move(shapes[row]));
            continue;
        }
        while (!blobs.bytes.InBlock(block, at)) blobs.bytes.Release(block++);
        if (blobs.sizes[row] > 0) {
            blobs.rows.SetBytes(row, at, blobs.sizes[row]);
        } else {
            blobs.rows.SetShape(row, std::move(shapes[row]));
        }
    }
    return std::move(blobs.rows);
}

}  // namespace

std::optional<FeatureRows> ReadGeoPackageRows(const std::string& path, const std::string& table,
                                              const std::string& fid_column, const std::string& geometry_column,
                                              EngineTuning* tuning) {
    auto blobs = ReadBlobs(path, table, fid_column, geometry_column, tuning);
    if (!blobs) return std::nullopt;
    const std::size_t rows = blobs->rows.Count();
    std::vector<std::unique_ptr<geos::geom::Geometry>> shapes(rows);
    // Each slice stops at its first row that cannot be read here, so that the first such
    // row of the table is the lowest of the slices' (a fault) or steps aside (GDAL's).
    struct Stop {
        std::size_t row = SIZE_MAX;
        std::string fault;                 // empty: a shape for GDAL to read
        std::exception_ptr out_of_memory;  // no fault of the row's
    };
    const std::size_t threads = ThreadsFor(rows, 20000);
    std::vector<Stop> stops(threads);
    // Parsing is most of the cost, and each row stands alone: a slice of rows a core.
    InSlices(rows, threads, [&](std::size_t slot, std::size_t begin, std::size_t end) {
        geos::io::WKBReader reader(Shape::Factory());
        for (std::size_t row = begin; row < end; ++row) {
            const int kind = blobs->kinds[row];
            // Single points were taken as their coordinates while stepping: a GEOS point
            // costs several times that.
            if (kind == SQLITE_NULL || kind == kPointRow) continue;
            try {
                if (kind != SQLITE_BLOB) {
                    throw ShapeBytesFault(std::string("the geometry column holds ") +
                                          (kind == SQLITE_TEXT ? "text" : "a number") + ", not a geometry blob");
                }
                const unsigned char* blob = blobs->at[row];
                const std::size_t size = blobs->sizes[row];
                if (const auto checked = CheckedBlobWkb(blob, size, blobs->declared)) {
                    blobs->at[row] = checked->data();
                    blobs->sizes[row] = static_cast<std::uint32_t>(checked->size());
                    continue;
                }
                std::span<const unsigned char> wkb;
                shapes[row] = ParseBlob(blob, size, reader, blobs->declared, &wkb);
                if (!shapes[row]) {
                    stops[slot] = {row, {}, nullptr};
                    return;
                }
                // Other shapes than single points (which a class of points keeps as two
                // numbers) are kept as their WKB, once GEOS has read it: the class makes
                // GEOS shapes of it on need.
                blobs->sizes[row] = 0;
                if (!wkb.empty() && shapes[row]->getGeometryTypeId() != geos::geom::GeometryTypeId::GEOS_POINT) {
                    blobs->at[row] = wkb.data();
                    blobs->sizes[row] = static_cast<std::uint32_t>(wkb.size());
                    shapes[row].reset();
                }
            } catch (const std::bad_alloc&) {
                stops[slot] = {row, {}, std::current_exception()};
                return;
            } catch (const std::exception& error) {
                stops[slot] = {row, error.what(), nullptr};
                return;
            }
        }
    });
    const auto first = std::min_element(stops.begin(), stops.end(), [](const Stop& a, const Stop& b) { return a.row < b.row; });
    if (first->row != SIZE_MAX) {
        if (first->out_of_memory) std::rethrow_exception(first->out_of_memory);
        if (first->fault.empty()) return std::nullopt;
        throw platform::Error(platform::kFail, path + ": table " + table + ", FID " +
                                                   std::to_string(blobs->rows.Fid(first->row)) +
                                                   ": the shape cannot be read: " + first->fault);
    }
    return RowsOf(*blobs, shapes);
}

}  // namespace selvane::gis
