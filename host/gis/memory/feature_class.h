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
#include "gis/memory/row_store.h"
#include "platform/arcobjects.h"

class OGRSpatialReference;
class OGRCoordinateTransformation;

namespace selvane::gis {

class MemorySearchAhead;

/// Rows a layer shows (its definition query); null means every row.
using RowMask = std::shared_ptr<const std::vector<bool>>;
/// Object ids a layer shows (its definition query), ascending; null means every row.
using ShownIds = std::shared_ptr<const std::vector<std::int64_t>>;

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
    /// call it; Rows takes them as read.
    void EnsureRows() const;
    bool RowsRead() const { return !m_reader; }

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
        return m_rows.Count();
    }
    /// The rows as read: EnsureRows first where they may not be.
    const RowStore& Rows() const { return m_rows; }
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

    // The rows, read on first need: a class is opened by names, types and systems alone.
    mutable RowReader m_reader;  // set until the rows are read
    mutable RowStore m_rows;

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
