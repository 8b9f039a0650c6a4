#pragma once

// A table's rows as the memory engine keeps them: built once from what a reader read, and
// never changed after, so that any number of threads may read them. A GEOS shape costs
// several times its coordinates, so none is kept: a class of single points keeps each as
// two numbers, any other class its shapes' checked WKB, and a GEOS shape is made for
// whoever asks for one. Every question about one row is answered here without one.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "gis/geometry/geos_include.h"
#include "gis/geometry/shape.h"
#include "gis/memory/feature_rows.h"
#include "gis/memory/row_index.h"
#include "gis/memory/stored_shapes.h"

namespace selvane::gis {

/// A row's shape: borrowed from its class, or made for the holder from a plain point.
class RowShape {
public:
    RowShape() = default;
    explicit RowShape(const geos::geom::Geometry* borrowed) : m_geometry(borrowed) {}
    explicit RowShape(std::unique_ptr<geos::geom::Geometry> made) : m_made(std::move(made)), m_geometry(m_made.get()) {}

    /// The geometry, or nullptr for a feature without a shape; valid while this lives.
    const geos::geom::Geometry* get() const { return m_geometry; }
    const geos::geom::Geometry& operator*() const { return *m_geometry; }
    const geos::geom::Geometry* operator->() const { return m_geometry; }
    explicit operator bool() const { return m_geometry != nullptr; }

private:
    std::unique_ptr<geos::geom::Geometry> m_made;
    const geos::geom::Geometry* m_geometry = nullptr;
};

class RowStore {
public:
    /// No rows.
    RowStore() = default;
    RowStore(RowStore&&) = default;
    RowStore& operator=(RowStore&&) = default;

    /// The store of what a reader read: its ids checked (throws platform::Error naming
    /// `culprit()` for an id given to more than one row, keeping nothing) and each shape's
    /// bytes walked once, on every core, for its box and its form.
    static RowStore Of(FeatureRows rows, const std::function<std::string()>& culprit);

    std::size_t Count() const { return m_count; }
    std::int64_t Fid(std::size_t row) const {
        if (!m_fids.empty()) return m_fids[row];
        const auto& run = m_id_runs.size() == 1 ? m_id_runs.front() : RunOf(row);
        return static_cast<std::int64_t>(static_cast<std::uint64_t>(run.fid) + (row - run.row));
    }
    /// The row's shape (null for a feature without one), made anew for each call.
    RowShape ShapeAt(std::size_t row) const;
    /// The row's box when its shape is an axis-parallel rectangle (RectangleBox); nullopt
    /// otherwise. Read from the stored bytes, without a GEOS shape.
    std::optional<geos::geom::Envelope> RectangleAt(std::size_t row) const;
    /// Whether the row's shape is such a rectangle, which then is its envelope.
    bool IsRectangleAt(std::size_t row) const {
        return !m_kinds.empty() && (m_kinds[row] & kKindBits) == kRectangleRow;
    }
    /// Asks the processor for what a test of the row reads first (its kind, where its bytes
    /// lie), ahead of the test: a search reads its candidates at random places.
    void PrefetchRow(std::size_t row) const {
        if (m_kinds.empty()) return;
        __builtin_prefetch(&m_kinds[row]);
        m_stored.PrefetchRow(row);
    }
    /// Asks for the row's bytes, once PrefetchRow has brought in where they lie.
    void PrefetchBytes(std::size_t row) const { m_stored.PrefetchBytes(row); }
    /// The vertices of the row's shape when it is a line string of at most `out.size()`
    /// of them, written to `out`, and their number; 0 otherwise.
    std::size_t LineVerticesAt(std::size_t row, std::span<geos::geom::Coordinate> out) const;
    /// The envelope of the row's shape, null for a row without one or with an empty one.
    geos::geom::Envelope EnvelopeAt(std::size_t row) const;
    /// The dimension of the row's shape; nullopt for a row without one or with an empty one.
    std::optional<ShapeDimension> NonEmptyDimensionAt(std::size_t row) const;
    /// The row's point when the class keeps its rows as plain points and the row has one;
    /// nullptr otherwise.
    const PlainPoint* PlainPointAt(std::size_t row) const {
        return m_kinds.empty() || m_kinds[row] != kPlainRow ? nullptr : &m_points[row];
    }
    /// The checked WKB kept for the row's shape; empty for a plain point and a row without a
    /// shape or with an empty one.
    std::span<const unsigned char> StoredBytesAt(std::size_t row) const {
        const auto kind = m_kinds.empty() ? kNullRow : m_kinds[row] & kKindBits;
        return kind == kStoredRow || kind == kRectangleRow ? m_stored.Bytes(row) : std::span<const unsigned char>();
    }
    /// Whether the row's shape can be invalid: not a plain point (whose only fault is a
    /// coordinate that is not a finite number), a rectangle (valid by what makes it one) or none.
    bool MayBeInvalid(std::size_t row) const {
        const auto kind = m_kinds[row] & kKindBits;
        return kind != kPlainRow && kind != kRectangleRow && kind != kNullRow;
    }
    /// The rows with a coordinate that is not a finite number, ascending.
    const std::vector<std::size_t>& NonFinite() const { return m_non_finite; }
    bool Finite(std::size_t row) const;
    /// The shape of every empty row of a class of points; null when there is none.
    const geos::geom::Geometry* EmptyPoint() const { return m_empty_point.get(); }
    /// A spatial index over the rows with a non-empty, finite shape.
    std::unique_ptr<RowIndex> BuildIndex() const;

private:
    // What a row holds: a plain point (a class of points), a stored shape (any other
    // class) that is or is not an axis-parallel rectangle, an empty shape, or none.
    static constexpr std::uint8_t kPlainRow = 0, kNullRow = 1, kEmptyRow = 2, kStoredRow = 3, kRectangleRow = 4;
    // The low nibble of a stored row's kind; the high one, its dimension.
    static constexpr std::uint8_t kKindBits = 0x0F;

    // Rows from `row` on whose ids count up one a row from `fid`, up to the next run.
    struct IdRun {
        std::size_t row;
        std::int64_t fid;
    };
    const IdRun& RunOf(std::size_t row) const;
    static std::vector<IdRun> IdRunsOf(const std::vector<std::int64_t>& fids);
    static std::optional<std::int64_t> FirstDuplicateOfRuns(const std::vector<IdRun>& runs, std::size_t count);
    static std::optional<std::int64_t> FirstDuplicateOfIds(const std::vector<std::int64_t>& fids);
    // The shapes of `rows` taken in: as plain points when every one is a single point (or
    // none, or empty), as stored WKB otherwise.
    void KeepPoints(FeatureRows& rows);
    void KeepStored(FeatureRows& rows);

    std::size_t m_count = 0;
    // Each row's id; empty when the ids count up one a row in a few runs, each `m_id_runs`
    // (in row order).
    std::vector<std::int64_t> m_fids;
    std::vector<IdRun> m_id_runs;
    std::vector<std::uint8_t> m_kinds;
    // A class of plain points: for a plain row, its point.
    std::vector<PlainPoint> m_points;
    std::unique_ptr<geos::geom::Geometry> m_empty_point;  // the shape of every empty row
    // Any other class: each row's shape, as WKB.
    StoredShapes m_stored;
    std::vector<std::size_t> m_non_finite;  // rows with NaN or infinite coordinates, ascending
};

}  // namespace selvane::gis
