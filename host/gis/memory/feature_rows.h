#pragma once

// What a reader reads, a row at a time, before the memory engine keeps it: each row's id
// and its shape in the cheapest form the reader has it in. RowStore::Of takes it whole.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "gis/geometry/geos_include.h"
#include "gis/memory/row_index.h"
#include "gis/memory/stored_shapes.h"

namespace selvane::gis {

class FeatureRows {
public:
    /// Room for `rows` rows in all, and for their points when `points`.
    void Reserve(std::size_t rows, bool points = false);
    /// A row whose shape is a single point, kept as its two numbers.
    void AddPoint(std::int64_t fid, PlainPoint point);
    /// A row whose shape is `size` bytes of WKB at `wkb` that GEOS reads as they stand
    /// (checked, or written by GEOS), and not a single point.
    void AddBytes(std::int64_t fid, const unsigned char* wkb, std::size_t size);
    /// A row whose shape GEOS has made.
    void AddShape(std::int64_t fid, std::unique_ptr<geos::geom::Geometry> shape);
    /// A row whose shape GEOS has read from `size` bytes of WKB at `wkb`: a single point is
    /// kept as the shape (a class of points keeps it as two numbers), any other as its bytes.
    void AddRead(std::int64_t fid, std::unique_ptr<geos::geom::Geometry> shape, const unsigned char* wkb,
                 std::size_t size);
    /// A row without a shape.
    void AddNone(std::int64_t fid);
    /// A reader that parses its rows after reading them (on several threads) adds each row
    /// without a shape, then gives it its shape here, in either form above; bytes in row order.
    void SetBytes(std::size_t row, const unsigned char* wkb, std::size_t size);
    void SetShape(std::size_t row, std::unique_ptr<geos::geom::Geometry> shape);
    /// The rows of `more` after these, in their order; `more` is left empty.
    void Append(FeatureRows&& more);

    std::size_t Count() const { return m_fids.size(); }
    std::int64_t Fid(std::size_t row) const { return m_fids[row]; }

private:
    friend class RowStore;
    enum Kind : std::uint8_t { kNone, kPoint, kBytes, kShape };

    // A row's id and kind, and room for it in the points and shapes if in use.
    void AddRow(std::int64_t fid, Kind kind);
    // A column is not in use until a row needs it, so that a table of one form carries no
    // column for the others. The points and shapes then hold a value for every row; the
    // stored shapes end at the last row given bytes (those after it have none): a table
    // whose rows are given their bytes after they are read does not take the whole column
    // at once.
    void WidenPoints();
    void WidenShapes();
    void StoredUpTo(std::size_t rows);

    std::vector<std::int64_t> m_fids;
    std::vector<Kind> m_kinds;
    std::vector<PlainPoint> m_points;
    std::vector<std::unique_ptr<geos::geom::Geometry>> m_shapes;
    StoredShapes m_stored;
    bool m_with_points = false;
    bool m_with_shapes = false;
    bool m_with_stored = false;
};

}  // namespace selvane::gis
