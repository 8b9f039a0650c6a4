#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <memory>
#include <string>
#include <vector>

#include "gis/geometry/geos_include.h"
#include "gis/common/engine_tuning.h"
#include "gis/common/gdal_table.h"
#include "gis/common/layer_names.h"
#include "gis/geometry/shape.h"
#include "gis/memory/row_index.h"
#include "gis/memory/stored_shapes.h"
#include "platform/arcobjects.h"

class OGRSpatialReference;
class OGRCoordinateTransformation;

namespace selvane::gis {

class MemorySearchAhead;

/// Rows a layer shows (its definition query); null means every row.
using RowMask = std::shared_ptr<const std::vector<bool>>;
/// Object ids a layer shows (its definition query), ascending; null means every row.
using ShownIds = std::shared_ptr<const std::vector<std::int64_t>>;

/// The rows of a table: object ids and shapes (nullptr for a feature without one). A reader
/// may hand a row's single point as its two coordinates instead of a GEOS shape: the row's
/// shape is then null, its `plain` flag set and `points` holds it. It may hand any other
/// shape as the WKB GEOS has read it from: the row's shape is then null and `stored` has it.
struct FeatureRows {
    std::vector<std::int64_t> fids;
    std::vector<std::unique_ptr<geos::geom::Geometry>> shapes;
    std::vector<PlainPoint> points;    // empty, or a row each
    std::vector<std::uint8_t> plain;   // empty, or a row each: 1 where `points` holds the shape
    StoredShapes stored;               // no rows, or a row each
};

/// Appends to `rows` a row's shape that GEOS has read from `size` bytes of WKB at `wkb`
/// (nullptr: a row without one): a single point as the shape, which a class of points
/// keeps as two numbers, any other as its bytes.
void AddReadShape(FeatureRows& rows, std::unique_ptr<geos::geom::Geometry> shape, const unsigned char* wkb,
                  std::size_t size);

/// Appends the rows of `more` to `rows`, in their order; `more` is left empty.
void AppendRows(FeatureRows& rows, FeatureRows&& more);

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

/// Reads a table's rows; throws platform::Error naming what cannot be read.
using RowReader = std::function<FeatureRows()>;

/// The coordinate operation a host has chosen between two systems: a PROJ string, run in
/// reverse when `reverse`; empty to let PROJ choose.
struct CoordinateOperation {
    std::string proj;
    bool reverse = false;
};
using OperationChooser =
    std::function<CoordinateOperation(const OGRSpatialReference& source, const OGRSpatialReference& target)>;

/// A table of features held in memory: object ids, shapes and a spatial reference. A
/// GEOS shape costs several times its coordinates, so none is kept: a class of single
/// points keeps them as plain coordinates, any other class its shapes' WKB, and a GEOS
/// shape is made for whoever asks for one.
/// A class opened from a file reads its rows the first time they are needed (a search, a
/// count, a drawing), so that opening a map costs only names, types and systems. A
/// spatial search uses an index (RowIndex) built on the first search and kept.
class MemoryFeatureClass final : public platform::IFeatureClass,
                                 public ShapeOrigin,
                                 public std::enable_shared_from_this<MemoryFeatureClass> {
public:
    /// A class of rows already read.
    MemoryFeatureClass(std::string name, std::string shape_field, ShapeDimension dimension,
                       std::shared_ptr<const OGRSpatialReference> spatial_reference, std::vector<std::int64_t> fids,
                 std::vector<std::unique_ptr<geos::geom::Geometry>> shapes);
    /// A class whose rows `reader` reads on first need. A read that fails is reported to
    /// that use, and tried again by the next. Its searches follow `tuning` (null: as made).
    MemoryFeatureClass(std::string name, std::string shape_field, ShapeDimension dimension,
                       std::shared_ptr<const OGRSpatialReference> spatial_reference, RowReader reader,
                       std::shared_ptr<const EngineTuning> tuning = nullptr);
    ~MemoryFeatureClass() override;

    /// Reads the rows if they are not read yet. RowCount, RowsByFid, Index and the searches
    /// call it; Fid and ShapeAt take the rows as read.
    void EnsureRows() const;
    bool RowsRead() const { return !m_rows.reader; }

    /// The table's name, used in error texts.
    const std::string& Name() const { return m_name; }
    /// The file the table was read from; empty for a class made in memory.
    const std::string& SourcePath() const { return m_source_path; }
    void SetSourcePath(std::string path) { m_source_path = std::move(path); }
    /// The table of the file it was read from.
    GdalTable AsGdalTable() const { return {m_source_path, m_name, {}, {}, "table " + m_name + " of " + m_source_path}; }
    /// Names a layer that shows this class, for error texts (called by MemoryLayer).
    void AddLayerName(const std::string& name);
    /// What error texts call the class: "layer Lots A (table target, file /data/x.gpkg)".
    std::string Culprit() const;
    /// For a class that holds another's rows (a database table's, copied), what error texts
    /// call it instead: the class its rows belong to.
    void SetCulprit(std::function<std::string()> culprit) { m_culprit = std::move(culprit); }
    ShapeDimension Dimension() const override { return m_dimension; }
    const std::shared_ptr<const OGRSpatialReference>& SpatialReference() const override { return m_spatial_reference; }
    std::size_t RowCount() const {
        EnsureRows();
        return m_rows.count;
    }
    std::int64_t Fid(std::size_t row) const {
        if (!m_rows.fids.empty()) return m_rows.fids[row];
        const auto& run = m_rows.id_runs.size() == 1 ? m_rows.id_runs.front() : RunOf(row);
        return static_cast<std::int64_t>(static_cast<std::uint64_t>(run.fid) + (row - run.row));
    }
    /// The row's shape (null for a feature without one), made anew for each call.
    RowShape ShapeAt(std::size_t row) const;
    /// The row's box when its shape is an axis-parallel rectangle (RectangleBox); nullopt
    /// otherwise. Read from the stored bytes, without a GEOS shape.
    std::optional<geos::geom::Envelope> RectangleAt(std::size_t row) const;
    /// Asks the processor for what a test of the row reads first (its kind, where its bytes
    /// lie), ahead of the test: a search reads its candidates at random places.
    void PrefetchRow(std::size_t row) const {
        if (m_rows.kinds.empty()) return;
        __builtin_prefetch(&m_rows.kinds[row]);
        m_rows.stored.PrefetchRow(row);
    }
    /// Asks for the row's bytes, once PrefetchRow has brought in where they lie.
    void PrefetchBytes(std::size_t row) const { m_rows.stored.PrefetchBytes(row); }
    /// Whether the row's shape is such a rectangle, which then is its envelope.
    bool IsRectangleAt(std::size_t row) const {
        return !m_rows.kinds.empty() && (m_rows.kinds[row] & kKindBits) == kRectangleRow;
    }
    /// The vertices of the row's shape when it is a line string of at most `out.size()`
    /// of them, written to `out`, and their number; 0 otherwise. Without a GEOS shape.
    std::size_t LineVerticesAt(std::size_t row, std::span<geos::geom::Coordinate> out) const;
    /// The envelope of the row's shape, null for a row without one or with an empty one;
    /// without a GEOS shape.
    geos::geom::Envelope EnvelopeAt(std::size_t row) const;
    /// The dimension of the row's shape; nullopt for a row without one or with an empty one.
    std::optional<ShapeDimension> NonEmptyDimensionAt(std::size_t row) const;
    /// The row's point when the class keeps its rows as plain points and the row has one;
    /// nullptr otherwise.
    const PlainPoint* PlainPointAt(std::size_t row) const {
        return m_rows.kinds.empty() || m_rows.kinds[row] != kPlainRow ? nullptr : &m_rows.points[row];
    }
    /// The checked WKB the class keeps for the row's shape; empty for a plain point and a
    /// row without a shape or with an empty one.
    std::span<const unsigned char> StoredBytesAt(std::size_t row) const {
        const auto kind = m_rows.kinds.empty() ? kNullRow : m_rows.kinds[row] & kKindBits;
        return kind == kStoredRow || kind == kRectangleRow ? m_rows.stored.Bytes(row) : std::span<const unsigned char>();
    }
    /// Rows by object id (built on first use).
    const std::map<std::int64_t, std::size_t>& RowsByFid() const;

    std::string ShapeFieldName() override { return m_shape_field; }
    std::int32_t FeatureCount(std::shared_ptr<platform::IQueryFilter> filter) override;
    std::shared_ptr<platform::IFeatureCursor> Search(std::shared_ptr<platform::IQueryFilter> filter,
                                                     bool recycling) override;

    /// Search limited to the rows in `shown` (a layer's definition query).
    std::shared_ptr<platform::IFeatureCursor> SearchShown(const std::shared_ptr<platform::IQueryFilter>& filter,
                                                          bool recycling, RowMask shown);
    /// The search of the rows in `shown` by row `row` of a scan of `queries` showing
    /// `scan_shown`, whose rows a run searches in order: the rows the scan shows next are
    /// answered ahead on a second thread. `query` is the row's shape as the caller holds it
    /// (kept alive by `query_owner`), in this class's system.
    std::shared_ptr<platform::IFeatureCursor> SearchScanRow(const MemoryFeatureClass& queries,
                                                            const RowMask& scan_shown, std::size_t row,
                                                            platform::esriSpatialRelEnum relation, bool recycling,
                                                            RowMask shown,
                                                            std::shared_ptr<platform::IGeometry> query_owner,
                                                            const geos::geom::Geometry& query);

    /// Throws platform::Error naming the class, the FID and GEOS's reason when the row's
    /// shape is not valid. Each row is checked once, the first time a predicate needs it.
    void RequireValid(std::size_t row) const override;
    /// RequireValid, for a caller who has the row's shape from ShapeAt already.
    void RequireValid(std::size_t row, const geos::geom::Geometry& shape) const override;
    bool KnownStrictlyConvex(std::size_t row) const override;
    /// Throws platform::Error, as RequireValid does, when the row's shape has a coordinate
    /// that is not a finite number. Such shapes are kept out of the index, where their
    /// envelopes would hide other rows.
    void RequireFinite(std::size_t row) const override;
    /// RequireFinite for the first row that fails it, if any: a search cannot tell whether
    /// such a shape would have matched, so every search of the class fails alike.
    void RequireAllFinite() const;

    /// Works out now what GEOS would otherwise work out lazily inside the shapes (the
    /// envelopes of their parts and rings), so that several threads may evaluate them at
    /// once without racing to fill those caches. Once per class; reads the rows.
    void PrepareForThreads() const;

    /// The spatial index over the rows with a non-empty shape.
    const RowIndex& Index() const;

    /// Lets the host choose the operation that projects query shapes into this class's
    /// system (a QGIS project's transformations); called on the searching thread.
    void SetOperationChooser(OperationChooser chooser) { m_choose_operation = std::move(chooser); }

    /// `geometry` (in `source_reference`) in this class's spatial reference; nullptr when
    /// no projection is needed.
    std::unique_ptr<geos::geom::Geometry> Project(const geos::geom::Geometry& geometry,
                                                  const std::shared_ptr<const OGRSpatialReference>& source_reference) const;

private:
    /// Takes read rows in: checks their ids and marks non-finite shapes. Throws
    /// platform::Error, keeping nothing, for rows that cannot stand.
    void AdoptRows(FeatureRows rows) const;

    std::string m_name;
    std::string m_shape_field;
    ShapeDimension m_dimension;
    std::shared_ptr<const OGRSpatialReference> m_spatial_reference;
    std::string m_source_path;
    LayerNames m_layer_names;
    std::function<std::string()> m_culprit;
    std::shared_ptr<const EngineTuning> m_tuning;
    OperationChooser m_choose_operation;

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

    // The rows, read on first need: a class is opened by names, types and systems alone.
    struct Rows {
        RowReader reader;  // set until the rows are read
        std::size_t count = 0;
        // Each row's id; empty when the ids count up one a row in a few runs, each `id_runs`
        // (in row order).
        std::vector<std::int64_t> fids;
        std::vector<IdRun> id_runs;
        std::vector<std::uint8_t> kinds;
        // A class of plain points: for a plain row, its point.
        std::vector<PlainPoint> points;
        std::unique_ptr<geos::geom::Geometry> empty_point;  // the shape of every empty row
        // Any other class: each row's shape, as WKB.
        StoredShapes stored;
        std::vector<std::size_t> non_finite;  // rows with NaN or infinite coordinates, ascending
    };
    mutable Rows m_rows;

    // What searches build over the rows on first need, and keep.
    struct SearchState {
        std::unique_ptr<RowIndex> index;
        // 0 unknown, 1 valid; read and written by the threads that evaluate searches.
        std::unique_ptr<std::atomic<std::uint8_t>[]> validity;
        bool prepared_for_threads = false;
        std::unique_ptr<std::map<std::int64_t, std::size_t>> rows_by_fid;
        // Transformations from the spatial references that queries came in; the key's
        // reference is held so that its address stays unique.
        struct Transformation {
            std::shared_ptr<const OGRSpatialReference> source;
            std::unique_ptr<OGRCoordinateTransformation> transform;  // null: same reference
        };
        std::map<const OGRSpatialReference*, Transformation> transformations;
    };
    mutable SearchState m_search;
    // The searches of a scan's rows answered ahead on a second thread, when one runs.
    mutable std::unique_ptr<MemorySearchAhead> m_ahead;
};

}  // namespace selvane::gis
