#include "gis/copy/copied_rows.h"

#include <algorithm>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "gis/postgis/feature_class.h"
#include "gis/postgis/search_ahead.h"
#include "gis/postgis/sql.h"
#include "gis/wkb/ewkb.h"
#include "gis/wkb/wkb_outline.h"

namespace selvane::gis {
namespace {

// Keeps a row's bytes without making a GEOS shape of them, when one walk shows that GEOS
// reads them as they stand and that the class keeps them as bytes (any shape but a single
// point); false leaves the row to GEOS, which reads it or says what is wrong.
bool AddReadableBytes(FeatureRows& rows, std::int64_t fid, const unsigned char* wkb, std::size_t size) {
    const auto readable = CheckReadableWkb(wkb, size);
    if (!readable || readable->outline.type == WkbType::Point) return false;
    rows.AddBytes(fid, wkb, size);
    return true;
}

// The rows of one binary copy of a table, read as they come.
class CopiedRows {
public:
    // `as_kept`: ids in their own integer type and shapes as the server's EWKB, which only
    // a table of one flat type is copied as.
    // `expected`: about how many rows are to come, room made for them at once.
    CopiedRows(const PgTable& table, bool as_kept, const std::string& culprit, std::size_t expected)
        : m_points(table.single_points), m_as_kept(as_kept), m_culprit(culprit) {
        m_rows.Reserve(expected);
    }

    // A row: a field count of 2, the id's length and the id (an int8, or as kept an int2,
    // int4 or int8), then the shape's length (-1 for NULL) and its bytes, which end the
    // row. The copy's end is a count of -1 alone.
    void Read(std::string_view bytes) {
        if (bytes.size() == 2 && PgBigEndian(bytes.data(), 2) == 0xFFFF) return;
        if (bytes.size() < 2 + 4 || PgBigEndian(bytes.data(), 2) != 2) throw OtherForm();
        const auto id_length = PgBigEndian(bytes.data() + 2, 4);
        if (!(id_length == 8 || (m_as_kept && (id_length == 4 || id_length == 2)))) throw OtherForm();
        const std::size_t head = 2 + 4 + id_length + 4;
        if (bytes.size() < head) throw OtherForm();
        // Two's complement in the id's own width.
        const auto id_bits = PgBigEndian(bytes.data() + 6, id_length);
        const auto fid = id_length == 8   ? static_cast<std::int64_t>(id_bits)
                         : id_length == 4 ? static_cast<std::int64_t>(static_cast<std::int32_t>(id_bits))
                                          : static_cast<std::int64_t>(static_cast<std::int16_t>(id_bits));
        const auto length = static_cast<std::int32_t>(PgBigEndian(bytes.data() + head - 4, 4));
        const std::size_t left = bytes.size() - head;
        if (length == -1 && left == 0) return m_rows.AddNone(fid);
        if (length < 0 || static_cast<std::size_t>(length) != left) {
            throw platform::Error(platform::kFail, "Cannot read the shape of " + m_culprit + ", FID " +
                                                       std::to_string(fid) + ": its length is not that of its bytes");
        }
        const auto* wkb = reinterpret_cast<const unsigned char*>(bytes.data() + head);
        if (!m_as_kept) return AddShape(fid, wkb, left);
        // The server's EWKB of a flat shape, as the WKB the query would have sent.
        if (m_points) {
            const auto point = PointWkbOfEwkb(wkb, left);
            if (!point) throw OtherForm();
            return AddShape(fid, point->data(), point->size());
        }
        const auto flat = FlatWkbOfEwkb(wkb, left, m_scratch);
        if (!flat) throw OtherForm();
        AddShape(fid, flat->data(), flat->size());
    }

    FeatureRows& Rows() { return m_rows; }

private:
    platform::Error OtherForm() const {
        return platform::Error(platform::kFail, "Cannot read " + m_culprit + ": the server sent a row of another form");
    }

    // A row's shape from its WKB. A table of single points keeps each finite 2D point as
    // its two numbers, read off its bytes; the class then needs no GEOS point for it.
    void AddShape(std::int64_t fid, const unsigned char* wkb, std::size_t size) {
        if (m_points) {
            if (const auto point = PlainPointOfWkb(wkb, size)) return m_rows.AddPoint(fid, *point);
        }
        if (AddReadableBytes(m_rows, fid, wkb, size)) return;
        std::unique_ptr<geos::geom::Geometry> shape;
        try {
            shape = ReadServerShape(wkb, size);
        } catch (const std::exception& error) {
            throw platform::Error(platform::kFail, "Cannot read the shape of " + m_culprit + ", FID " +
                                                       std::to_string(fid) + ": " + error.what());
        }
        m_rows.AddRead(fid, std::move(shape), wkb, size);
    }

    bool m_points;
    bool m_as_kept;
    const std::string& m_culprit;
    FeatureRows m_rows;
    std::vector<unsigned char> m_scratch;  // a shape's WKB without its SRID
};

// What the server knows of a table's size: its blocks now, and its rows when last counted.
struct TableExtent {
    std::uint64_t blocks = 0;
    std::size_t rows = 0;
};

TableExtent ExtentOf(PgConnection& connection, const PgTable& table) {
    const auto extent = connection.Execute(
        "SELECT pg_relation_size(oid) / current_setting('block_size')::int8, greatest(reltuples, 0)::int8 FROM pg_class "
        "WHERE oid = $1::regclass",
        {{table.Qualified()}}, false);
    if (PQntuples(extent.get()) != 1) return {};
    return {std::strtoull(PQgetvalue(extent.get(), 0, 0), nullptr, 10),
            static_cast<std::size_t>(std::strtoull(PQgetvalue(extent.get(), 0, 1), nullptr, 10))};
}

}  // namespace

FeatureRows CopyTableRows(PgConnection& connection, const std::function<std::shared_ptr<PgConnection>()>& helper,
                          const PgTable& table, const std::string& where, const std::string& culprit,
                          EngineTuning& tuning) {
    // A whole table of one flat type is copied as it is kept: the server sends each id in
    // its own integer type and each shape as its EWKB, without a function to run for each
    // row: the server's work for a million cells or lines falls by two fifths.
    // Any other copy makes each shape flat WKB.
    const bool as_kept = table.flat_shapes && table.heap_rows && where.empty();
    const std::string columns = as_kept ? "t." + QuotedIdentifier(table.fid_column) + ", t." +
                                              QuotedIdentifier(table.geometry_column)
                                        : "t." + QuotedIdentifier(table.fid_column) + "::int8, ST_AsBinary(ST_Force2D(t." +
                                              QuotedIdentifier(table.geometry_column) + "))";
    // The copy of the rows that `range` (a condition on the rows' places, or empty) picks.
    const auto copy_of = [&](const std::string& range) {
        std::vector<std::string> conditions;
        if (!range.empty()) conditions.push_back(range);
        if (!where.empty()) conditions.push_back("(" + where + ")");
        if (as_kept && conditions.empty()) {
            return "COPY " + table.Qualified() + " (" + QuotedIdentifier(table.fid_column) + ", " +
                   QuotedIdentifier(table.geometry_column) + ") TO STDOUT (FORMAT binary)";
        }
        std::string sql = "COPY (SELECT " + columns + " FROM " + table.Rows() + " t";
        for (std::size_t index = 0; index < conditions.size(); ++index) {
            sql += (index ? " AND " : " WHERE ") + conditions[index];
        }
        return sql + ") TO STDOUT (FORMAT binary)";
    };

    // A large table is copied in two halves of its blocks at once, the second by another
    // connection reading the same snapshot, so that two server processes send it: the
    // server's side of a copy takes several times what reading the rows here does. Its
    // rows are then in the table's order, as one copy reads them. A range of blocks is
    // read alone from PostgreSQL 14 on; before, each half would read the whole table.
    std::shared_ptr<PgConnection> second;
    TableExtent extent;
    if (table.heap_rows) {
        extent = ExtentOf(connection, table);
        // Room for the rows the statistics count, within reason should they be out of date.
        extent.rows = std::min<std::size_t>(extent.rows, extent.blocks * 8192 / 24);
        if (connection.ServerVersion() >= 140000 && extent.blocks / 2 >= kCopyHalfBlocks) second = helper();
    }
    // The first half's rows make room for the second's, which are added to them.
    std::vector<CopiedRows> parts;
    std::vector<PgCopy> copies;
    parts.emplace_back(table, as_kept, culprit, extent.rows);
    if (second) {
        const std::string middle = "'(" + std::to_string(extent.blocks / 2) + ",0)'::tid";
        parts.emplace_back(table, as_kept, culprit, extent.rows / 2 + extent.rows / 16);
        copies.push_back({&connection, copy_of("t.ctid < " + middle), [&](std::string_view row) { parts[0].Read(row); }});
        copies.push_back(
            {second.get(), copy_of("t.ctid >= " + middle), [&](std::string_view row) { parts[1].Read(row); }});
    } else {
        copies.push_back({&connection, copy_of(""), [&](std::string_view row) { parts[0].Read(row); }});
    }
    try {
        PgConnection::CopyOutTogether(copies);
    } catch (...) {
        if (second) second->EndTransaction();
        throw;
    }
    if (second) {
        second->EndTransaction();
        ++tuning.tables_copied_in_halves;
    }
    for (std::size_t part = 1; part < parts.size(); ++part) parts[0].Rows().Append(std::move(parts[part].Rows()));
    ++tuning.tables_copied;
    return std::move(parts[0].Rows());
}

FeatureRows BatchRows(const QueryBatch& batch) {
    FeatureRows rows;
    const auto* result = batch.rows.get();
    const int count = PQntuples(result);
    for (int row = 0; row < count; ++row) {
        const std::int64_t fid = PgInteger(result, row, 0);
        if (PQgetisnull(result, row, 1)) {
            rows.AddNone(fid);
            continue;
        }
        const auto* wkb = reinterpret_cast<const unsigned char*>(PQgetvalue(result, row, 1));
        const auto size = static_cast<std::size_t>(PQgetlength(result, row, 1));
        if (AddReadableBytes(rows, fid, wkb, size)) continue;
        std::unique_ptr<geos::geom::Geometry> shape;
        try {
            shape = ReadServerShape(wkb, size);
        } catch (const std::exception&) {
            // The scan names the row when it reaches it, before its search is asked.
            rows.AddNone(fid);
            continue;
        }
        rows.AddRead(fid, std::move(shape), wkb, size);
    }
    return rows;
}

}  // namespace selvane::gis
