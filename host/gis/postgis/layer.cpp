#include "gis/postgis/layer.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <string_view>
#include <cstring>

#include "gis/support/sql_identifier.h"
#include "gis/postgis/definition_filter.h"
#include "gis/postgis/point_array.h"
#include "gis/postgis/statements.h"

namespace selvane::gis {

PostgisLayer::PostgisLayer(std::string name, std::shared_ptr<PostgisFeatureClass> feature_class,
                           std::string definition_query)
    : FeatureLayerOf(std::move(name), std::move(feature_class), std::move(definition_query)),
      m_filter(m_definition_query.empty() ? std::string() : DefinitionFilter(m_definition_query, m_class->Scope())) {}

std::shared_ptr<platform::IFeatureCursor> PostgisLayer::Search(std::shared_ptr<platform::IQueryFilter> filter,
                                                               bool recycling) {
    return m_class->SearchWhere(filter, recycling, m_filter);
}

void PostgisLayer::Add(const std::shared_ptr<platform::IFeature>& feature) {
    m_selection.Add(OwnFeature<PostgisFeature>(feature).Fid());
}

std::vector<std::int64_t> PostgisLayer::SelectedFids() const {
    std::vector<std::int64_t> fids;
    fids.reserve(static_cast<std::size_t>(m_selection.Count()));
    m_selection.ForEachId([&fids](std::int64_t fid) { fids.push_back(fid); });
    return fids;
}

namespace {

// A coordinate as the server reads it back exactly, whatever the process's locale (Qt sets
// the user's, whose decimal comma the server would not read).
std::string Exact(double value) {
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    return std::string(text, end);
}

// A number the server wrote, read as the server wrote it (not by the locale).
double Number(const char* text) {
    double value = 0;
    std::from_chars(text, text + std::strlen(text), value);
    return value;
}

// A box as the statements' four parameters: min x, min y, max x, max y.
std::vector<PgParameter> BoxParameters(const geos::geom::Envelope& box) {
    return {{Exact(box.getMinX())}, {Exact(box.getMinY())}, {Exact(box.getMaxX())}, {Exact(box.getMaxY())}};
}

// How many selected ids one statement looks up.
constexpr std::size_t kIdsPerStatement = 10000;
// The table's blocks that one row of the block-range reading holds (some thousands of
// points): few rows, so little cost a row, each small enough to hold.
constexpr int kBlocksPerRow = 64;
// The part of the table's extent a view must show before its points are read by ranges
// of blocks (every row once, in the order the table holds them) rather than through the
// index (only the rows in view, in the index's order).
constexpr double kWideView = 0.25;

}  // namespace

geos::geom::Envelope PostgisLayer::ClassExtent() {
    if (m_extent) return *m_extent;
    const auto& table = m_class->Table();
    const auto geometry = QuotedIdentifier(table.geometry_column);
    const auto result = m_class->Connection()->Execute(
        "SELECT ST_XMin(e), ST_YMin(e), ST_XMax(e), ST_YMax(e) FROM (SELECT ST_Extent(" + geometry + ") AS e FROM " +
        table.Rows() + ") x");
    geos::geom::Envelope extent;
    if (PQntuples(result.get()) == 1 && !PQgetisnull(result.get(), 0, 0)) {
        const auto value = [&result](int column) { return Number(PQgetvalue(result.get(), 0, column)); };
        // A coordinate that is not a finite number leaves no extent to draw: the check of
        // every row names its FID, as a search's would.
        if (!std::isfinite(value(0) + value(1) + value(2) + value(3))) m_class->RequireAllFinite();
        extent.init(value(0), value(2), value(1), value(3));
    }
    m_extent = extent;
    return extent;
}

const std::string& PostgisLayer::ReadingStatement(Reading reading) {
    return Prepared(*m_class->Connection(), m_statements, reading);
}

const std::string& PostgisLayer::Prepared(PgConnection& connection, std::map<Reading, std::string>& names,
                                          Reading reading) {
    auto& name = names[reading];
    if (!name.empty()) return name;
    const auto& table = m_class->Table();
    const auto g = "t." + QuotedIdentifier(table.geometry_column);
    const auto fid = "t." + QuotedIdentifier(table.fid_column) + "::int8";
    const auto box = [&](int first) {
        return g + " && ST_MakeEnvelope($" + std::to_string(first) + ", $" + std::to_string(first + 1) + ", $" +
               std::to_string(first + 2) + ", $" + std::to_string(first + 3) + ", " + std::to_string(table.srid) + ")";
    };
    const std::string where = m_filter.empty() ? "" : " AND (" + m_filter + ")";
    const std::string width = "ST_XMax(" + g + ") - ST_XMin(" + g + ")";
    const std::string height = "ST_YMax(" + g + ") - ST_YMin(" + g + ")";
    const std::string from = " FROM " + table.Rows() + " t WHERE ";
    std::string sql;
    int parameters = 4;
    switch (reading) {
        case Reading::All: sql = "SELECT " + fid + ", ST_AsBinary(ST_Force2D(" + g + "))" + from + box(1) + where; break;
        case Reading::Large:
            sql = "SELECT " + fid + ", ST_AsBinary(ST_Force2D(" + g + "))" + from + box(1) + " AND (" + width +
                  " >= $5 OR " + height + " >= $5)" + where;
            parameters = 5;
            break;
        case Reading::Samples:
            // One point a cell, at the lowest corner of the small shapes' envelopes there.
            sql = "SELECT min(" + fid + "), ST_AsBinary(ST_MakePoint(min(ST_XMin(" + g + ")), min(ST_YMin(" + g +
                  "))))" + from + box(1) + " AND " + width + " < $5 AND " + height + " < $5" + where +
                  " GROUP BY floor(ST_XMin(" + g + ") / $5), floor(ST_YMin(" + g + ") / $5)";
            parameters = 5;
            break;
        case Reading::PointBlocks:
        case Reading::PointBlocksInBox: {
            // A row for every `step`th block range of the table from the `first`, as an
            // array of its points; the table's size is read in the statement's snapshot, so
            // no row it sees lies past it.
            const bool in_box = reading == Reading::PointBlocksInBox;
            const int next = in_box ? 5 : 1;  // $table, $first, $step
            const auto number = [](int parameter) {
                std::string text = "$";
                return text += std::to_string(parameter);
            };
            const auto block = [](const std::string& at) { return "format('(%s,0)', " + at + ")::tid"; };
            const auto blocks = std::to_string(kBlocksPerRow);
            sql = "SELECT ARRAY(SELECT " + g + "::point FROM " + table.Rows() + " t WHERE t.ctid >= " +
                  block("ranges.b") + " AND t.ctid < " + block("ranges.b + " + blocks) +
                  (in_box ? " AND " + box(1) : "") + where + ") FROM generate_series(" + number(next + 1) +
                  "::int8 * " + blocks + ", pg_relation_size(" + number(next) +
                  "::regclass) / current_setting('block_size')::int8, " + number(next + 2) + "::int8 * " + blocks +
                  ") AS ranges(b)";
            parameters = next + 2;
            break;
        }
        case Reading::Selected:
            sql = "SELECT " + fid + ", ST_AsBinary(ST_Force2D(" + g + "))" + from + "t." +
                  QuotedIdentifier(table.fid_column) + " = ANY($5::int8[]) AND " + box(1);
            parameters = 5;
            break;
    }
    try {
        name = connection.Prepare(sql, parameters);
    } catch (...) {
        names.erase(reading);
        throw;
    }
    return name;
}

void PostgisLayer::Stream(const std::string& statement, const std::vector<PgParameter>& parameters, bool samples,
                          const ShapeVisitor& visit) {
    PgStream rows(m_class->Connection(), statement, parameters);
    while (const PGresult* row = rows.Next()) {
        if (PQgetisnull(row, 0, 1)) continue;
        const auto shape = m_class->ShapeFromWkb(PQgetvalue(row, 0, 1), static_cast<std::size_t>(PQgetlength(row, 0, 1)),
                                                 PgInteger(row, 0, 0));
        if (shape && shape->Geometry()) visit(ShapeInView::Of(*shape->Geometry(), samples));
    }
}

namespace {

// The most cells binned here: a picture's pixels, many times over.
constexpr double kMostSampleCells = 16e6;

}  // namespace

// The cells of a view (its pixels), counted from its lower left: a bit a cell that holds a
// point, so that the grid stays in the processor's cache however many points come.
class OccupiedCells {
public:
    OccupiedCells(const geos::geom::Envelope& box, double cell, std::size_t width, std::size_t height)
        : m_box(box), m_cell(cell), m_width(width), m_height(height), m_bits((width * height + 63) / 64) {}

    void Mark(double x, double y) {
        // Outside the view, or not a finite number (named before the table is searched).
        if (!(x >= m_box.getMinX() && x <= m_box.getMaxX() && y >= m_box.getMinY() && y <= m_box.getMaxY())) return;
        const auto column = std::min(m_width - 1, static_cast<std::size_t>((x - m_box.getMinX()) / m_cell));
        const auto row = std::min(m_height - 1, static_cast<std::size_t>((y - m_box.getMinY()) / m_cell));
        const std::size_t at = row * m_width + column;
        m_bits[at / 64] |= std::uint64_t{1} << (at % 64);
    }

    /// Calls `visit` with one sample a cell that holds a point, at the cell's centre.
    void VisitSamples(const ShapeVisitor& visit) const {
        for (std::size_t word = 0; word < m_bits.size(); ++word) {
            for (std::uint64_t bits = m_bits[word]; bits != 0; bits &= bits - 1) {
                const std::size_t at = word * 64 + static_cast<std::size_t>(std::countr_zero(bits));
                visit(ShapeInView::Point(m_box.getMinX() + (static_cast<double>(at % m_width) + 0.5) * m_cell,
                                         m_box.getMinY() + (static_cast<double>(at / m_width) + 0.5) * m_cell, true));
            }
        }
    }

private:
    geos::geom::Envelope m_box;
    double m_cell;
    std::size_t m_width, m_height;
    std::vector<std::uint64_t> m_bits;
};

namespace {

// Marks the cells that the points of `copy` (a binary copy of x and y) fall in.
void CopyPoints(PgConnection& connection, const std::string& copy, OccupiedCells& cells) {
    connection.CopyOut(copy, [&](std::string_view bytes) {
        // A row: a field count of 2, then each field's length (-1 for NULL) and its float8.
        constexpr std::size_t kRow = 2 + 2 * (4 + 8);
        if (bytes.size() != kRow || PgBigEndian(bytes.data(), 2) != 2 || PgBigEndian(bytes.data() + 2, 4) != 8 ||
            PgBigEndian(bytes.data() + 14, 4) != 8) {
            return;  // the end of the copy, or an empty point
        }
        cells.Mark(std::bit_cast<double>(PgBigEndian(bytes.data() + 6, 8)),
                   std::bit_cast<double>(PgBigEndian(bytes.data() + 18, 8)));
    });
}

}  // namespace

void PostgisLayer::ReadPointBlocks(Reading reading, const geos::geom::Envelope& box, OccupiedCells& cells) {
    // Ranges of the table's blocks, a row each: the server sends some thousands of points
    // in one array where a row a point would cost each its own message. A second
    // connection, reading the snapshot of the first, takes every other range, so that two
    // server processes work at once.
    const auto& connection = m_class->Connection();
    auto helper = connection->Extra(ExtraUse::kDrawing);
    std::shared_ptr<void> transaction;
    if (helper) {
        try {
            Prepared(*helper, m_helper_statements, reading);
            transaction = connection->SharedTransaction();
            connection->ShareSnapshot(helper);
        } catch (const platform::Error&) {
            helper = nullptr;  // read by one connection alone
        }
    }
    const auto parameters = [&](int first, int step) {
        auto values = reading == Reading::PointBlocksInBox ? BoxParameters(box) : std::vector<PgParameter>{};
        values.push_back({m_class->Table().Qualified()});
        values.push_back({std::to_string(first)});
        values.push_back({std::to_string(step)});
        return values;
    };
    const int step = helper ? 2 : 1;
    std::vector<std::unique_ptr<PgStream>> streams;
    streams.push_back(std::make_unique<PgStream>(connection, ReadingStatement(reading), parameters(0, step)));
    if (helper) {
        streams.push_back(
            std::make_unique<PgStream>(helper, Prepared(*helper, m_helper_statements, reading), parameters(1, step)));
    }
    const auto mark = [&cells](double x, double y) { cells.Mark(x, y); };
    try {
        // A row of each in turn: the servers make them at about the same pace, and each
        // goes on with its next while this reads the other's.
        for (std::size_t open = streams.size(); open > 0;) {
            for (auto& stream : streams) {
                if (!stream) continue;
                const PGresult* row = stream->Next();
                if (!row) {
                    stream.reset();
                    --open;
                } else if (!PQgetisnull(row, 0, 0)) {
                    ForEachPointInArray(
                        std::string_view(PQgetvalue(row, 0, 0), static_cast<std::size_t>(PQgetlength(row, 0, 0))),
                        mark);
                }
            }
        }
    } catch (...) {
        // The other statement is stopped, not read to its end.
        for (auto& stream : streams) {
            if (stream) stream->Abandon();
        }
        throw;
    }
}

bool PostgisLayer::SamplePointsHere(const ShapeRequest& request, const ShapeVisitor& visit) {
    const auto& box = request.box;
    const double cell = request.cell;
    const double columns = std::ceil(box.getWidth() / cell), rows = std::ceil(box.getHeight() / cell);
    if (!(columns * rows <= kMostSampleCells)) return false;
    OccupiedCells cells(box, cell, std::max<std::size_t>(1, static_cast<std::size_t>(columns)),
                        std::max<std::size_t>(1, static_cast<std::size_t>(rows)));

    // A view that holds the whole table needs no filter by the box (it costs a quarter of
    // the statement); points outside the view, should the table have grown, are left out
    // when marked all the same.
    geos::geom::Envelope near_box = box;
    near_box.expandBy(cell);  // a view fitted to the table may fall short of it by a rounding
    const bool whole = m_extent && near_box.covers(&*m_extent);
    geos::geom::Envelope shown;
    const bool wide = whole || (m_extent && m_extent->getArea() > 0 && near_box.intersection(*m_extent, shown) &&
                                shown.getArea() >= kWideView * m_extent->getArea());
    const auto& table = m_class->Table();
    if (table.heap_rows && wide) {
        ReadPointBlocks(whole ? Reading::PointBlocks : Reading::PointBlocksInBox, box, cells);
    } else {
        const auto g = "t." + QuotedIdentifier(table.geometry_column);
        std::vector<std::string> conditions;
        if (!whole) {
            conditions.push_back(g + " && ST_MakeEnvelope(" + Exact(box.getMinX()) + ", " + Exact(box.getMinY()) +
                                 ", " + Exact(box.getMaxX()) + ", " + Exact(box.getMaxY()) + ", " +
                                 std::to_string(table.srid) + ")");
        }
        if (!m_filter.empty()) conditions.push_back("(" + m_filter + ")");
        std::string copy = "COPY (SELECT ST_X(" + g + "), ST_Y(" + g + ") FROM " + table.Rows() + " t";
        for (std::size_t index = 0; index < conditions.size(); ++index) {
            copy += (index ? " AND " : " WHERE ") + conditions[index];
        }
        copy += ") TO STDOUT (FORMAT binary)";
        CopyPoints(*m_class->Connection(), copy, cells);
    }
    cells.VisitSamples(visit);
    return true;
}

void PostgisLayer::ReadShapes(const ShapeRequest& request, const ShapeVisitor& visit) {
    if (request.box.isNull() || (request.selected_only && m_selection.Count() == 0)) return;
    auto parameters = BoxParameters(request.box);
    try {
        m_class->RequireColumnAsOpened();
        if (request.selected_only) {
            // The selection's ids, a few thousand a statement.
            std::string ids;
            std::size_t count = 0;
            const auto flush = [&] {
                parameters.resize(4);
                parameters.push_back({"{" + ids + "}"});
                Stream(ReadingStatement(Reading::Selected), parameters, false, visit);
                ids.clear();
                count = 0;
            };
            m_selection.ForEachId([&](std::int64_t id) {
                if (count++) ids += ',';
                ids += std::to_string(id);
                if (count == kIdsPerStatement) flush();
            });
            if (count) flush();
        } else if (request.cell > 0) {
            parameters.push_back({Exact(request.cell)});
            if (!m_class->Table().single_points || !SamplePointsHere(request, visit)) {
                Stream(ReadingStatement(Reading::Large), parameters, false, visit);
                Stream(ReadingStatement(Reading::Samples), parameters, true, visit);
            }
        } else {
            Stream(ReadingStatement(Reading::All), parameters, false, visit);
        }
    } catch (const platform::Error& error) {
        throw platform::Error(error.Number(), "Cannot draw " + m_class->Culprit() + ": " + m_class->Connection()->Words(error));
    }
}

std::string PostgisLayer::Description() {
    // Not counted here: a count of a large table would hold up the tree.
    std::string text = "Database layer: table " + m_class->Table().Display() + ", " + m_class->Connection()->Named() +
                       " (searched and drawn by the server)";
    if (!m_definition_query.empty()) text += "\nDefinition query: " + m_definition_query;
    return text;
}

}  // namespace selvane::gis
