#include "gis/memory/feature_class.h"

#include "platform/error.h"

#include <geos/geom/CoordinateFilter.h>
#include <geos/operation/valid/IsValidOp.h>
#include <geos/operation/valid/TopologyValidationError.h>
#include <ogr_spatialref.h>

#include <algorithm>
#include <cmath>
#include <exception>
#include <functional>
#include <iterator>
#include <system_error>

#include "gis/geometry/convex_polygon.h"
#include "gis/geometry/shape.h"
#include "gis/common/shape_errors.h"
#include "gis/support/slices.h"
#include "gis/geometry/spatial_relation.h"
#include "gis/wkb/wkb_outline.h"
#include "gis/memory/cursors.h"
#include "gis/memory/search_ahead.h"

namespace selvane::gis {
namespace {

// A row's validity, once checked: valid, or valid as a strictly convex polygon (which a
// search's prepared query then need not work out again). Unchecked is 0.
constexpr std::uint8_t kValid = 1;
constexpr std::uint8_t kStrictlyConvex = 2;

}  // namespace

MemoryFeatureClass::MemoryFeatureClass(std::string name, std::string shape_field, ShapeDimension dimension,
                                       std::shared_ptr<const OGRSpatialReference> spatial_reference,
                                       std::vector<std::int64_t> fids,
                                       std::vector<std::unique_ptr<geos::geom::Geometry>> shapes)
    : m_name(std::move(name)),
      m_shape_field(std::move(shape_field)),
      m_dimension(dimension),
      m_spatial_reference(std::move(spatial_reference)) {
    if (fids.size() != shapes.size()) throw platform::Error(platform::kInvalidArg, "Object ids and shapes differ in number");
    FeatureRows rows;
    rows.Reserve(fids.size());
    for (std::size_t row = 0; row < fids.size(); ++row) rows.AddShape(fids[row], std::move(shapes[row]));
    AdoptRows(std::move(rows));
}

MemoryFeatureClass::MemoryFeatureClass(std::string name, std::string shape_field, ShapeDimension dimension,
                                       std::shared_ptr<const OGRSpatialReference> spatial_reference, RowReader reader,
                                       std::shared_ptr<const EngineTuning> tuning)
    : m_name(std::move(name)),
      m_shape_field(std::move(shape_field)),
      m_dimension(dimension),
      m_spatial_reference(std::move(spatial_reference)),
      m_tuning(std::move(tuning)) {
    m_reader = std::move(reader);
}

void MemoryFeatureClass::EnsureRows() const {
    if (!m_reader) return;
    AdoptRows(m_reader());
    m_reader = nullptr;
}

void MemoryFeatureClass::AdoptRows(FeatureRows rows) const {
    m_rows = RowStore::Of(std::move(rows), [this] { return Culprit(); });
    m_search.validity = std::make_unique<std::atomic<std::uint8_t>[]>(m_rows.Count());
}

void MemoryFeatureClass::AddLayerName(const std::string& name) { m_layer_names.Add(name); }

std::string MemoryFeatureClass::Culprit() const {
    if (m_culprit) return m_culprit();
    std::string source = "table " + m_name;
    if (!m_source_path.empty()) source += ", file " + m_source_path;
    return m_layer_names.Around(source);
}

void MemoryFeatureClass::RequireFinite(std::size_t row) const {
    if (m_rows.Finite(row)) return;
    throw InvalidShapeError(Culprit(), m_rows.Fid(row), kNotFiniteReason);
}

void MemoryFeatureClass::RequireAllFinite() const {
    EnsureRows();
    if (!m_rows.NonFinite().empty()) RequireFinite(m_rows.NonFinite().front());
}

MemoryFeatureClass::~MemoryFeatureClass() {
    m_ahead.reset();  // its thread reads this class
}

std::int32_t MemoryFeatureClass::FeatureCount(std::shared_ptr<platform::IQueryFilter> filter) {
    if (!std::dynamic_pointer_cast<platform::ISpatialFilter>(filter)) return static_cast<std::int32_t>(RowCount());
    auto cursor = Search(std::move(filter), true);
    std::int32_t count = 0;
    while (cursor->NextFeature()) ++count;
    return count;
}

std::shared_ptr<platform::IFeatureCursor> MemoryFeatureClass::Search(std::shared_ptr<platform::IQueryFilter> filter,
                                                                     bool recycling) {
    return SearchShown(filter, recycling, nullptr);
}

std::shared_ptr<platform::IFeatureCursor> MemoryFeatureClass::SearchShown(
    const std::shared_ptr<platform::IQueryFilter>& filter, bool recycling, RowMask shown) {
    try {
        EnsureRows();
    } catch (...) {
        // Rows that cannot be read (a broken row, no memory left for them) are no fault of
        // the search: the cursor reports it as what it is, naming the file, the table and
        // the row.
        return std::make_shared<FailingCursor>(std::current_exception());
    }
    auto spatial = std::dynamic_pointer_cast<platform::ISpatialFilter>(filter);
    if (!spatial) return std::make_shared<MemoryScanCursor>(shared_from_this(), recycling, std::move(shown));

    const auto request = ReadSpatialFilter(*spatial, m_shape_field, m_name, m_dimension, [this] { return Culprit(); });
    if (!request.shape) return std::make_shared<EmptyCursor>();
    const auto relation = request.relation;
    const auto* query = request.shape;
    // The searches of a scan's rows are answered ahead only for a query class in memory.
    const auto* query_class = dynamic_cast<const MemoryFeatureClass*>(query->Origin());
    const auto* scan = dynamic_cast<const MemoryScan*>(query->Reading().get());

    std::unique_ptr<geos::geom::Geometry> projected;
    try {
        projected = Project(*query->Geometry(), query->SpatialReference());
    } catch (const platform::Error& error) {
        // Not a shape-type mismatch: the cursor reports it as what it is.
        const std::string shape = query_class ? "The query shape of " + query_class->Culprit() + ", FID " +
                                                    std::to_string(query_class->Rows().Fid(query->Row()))
                                              : std::string("A query shape");
        return std::make_shared<FailingCursor>(platform::Error(error.Number(), shape + " " + error.what()));
    }
    if (!projected && query_class && scan) {
        // A shape of a scan: the searches of the rows it shows next are worked out ahead.
        return SearchScanRow(*query_class, scan->shown, query->Row(), relation, recycling, std::move(shown),
                             request.owner, *query->Geometry());
    }
    if (!projected && query_class) {
        // A shape made for a feature: a recycling cursor that moves the feature on makes
        // another, so the search holds its own.
        projected = query->Geometry()->clone();
    }
    return std::make_shared<MemorySearchCursor>(shared_from_this(), recycling, std::move(shown), relation, request.owner,
                                           *query->Geometry(), std::move(projected), query->Origin(), query->Row());
}

std::shared_ptr<platform::IFeatureCursor> MemoryFeatureClass::SearchScanRow(
    const MemoryFeatureClass& queries, const RowMask& scan_shown, std::size_t row, platform::esriSpatialRelEnum relation,
    bool recycling, RowMask shown, std::shared_ptr<platform::IGeometry> query_owner, const geos::geom::Geometry& query) {
    if (relation != platform::esriSpatialRelEnvelopeIntersects) {
        if (!m_ahead || !m_ahead->Answers(&queries, scan_shown, relation, shown, row)) {
            m_ahead.reset();
            // Built here, before a second thread reads them.
            Index();
            PrepareForThreads();
            queries.PrepareForThreads();
            try {
                m_ahead = std::make_unique<MemorySearchAhead>(*this, shown, queries.shared_from_this(), scan_shown,
                                                              relation, row,
                                                              m_tuning ? m_tuning->row_ahead_pace.load() : nullptr);
            } catch (const std::system_error&) {
                // No thread to be had: this search, and the next, are answered here alone.
            }
        }
        if (m_ahead) return std::make_shared<MemorySearchCursor>(shared_from_this(), recycling, m_ahead->Answer(row));
    }
    // The caller's shape may be moved on with its feature: the search holds its own.
    return std::make_shared<MemorySearchCursor>(shared_from_this(), recycling, std::move(shown), relation,
                                                std::move(query_owner), query, query.clone(), &queries, row);
}

void MemoryFeatureClass::RequireValid(std::size_t row) const {
    // A point's only fault is a coordinate that is not a finite number, which the class
    // reports before any search; a rectangle is valid by what makes it one.
    if (!m_rows.MayBeInvalid(row)) return;
    if (m_search.validity[row].load(std::memory_order_relaxed) != 0) return;
    const auto shape = m_rows.ShapeAt(row);
    if (shape) RequireValid(row, *shape);
}

void MemoryFeatureClass::RequireValid(std::size_t row, const geos::geom::Geometry& shape) const {
    auto& state = m_search.validity[row];
    if (state.load(std::memory_order_relaxed) != 0) return;
    // A point's only fault is a coordinate that is not a finite number, which the class
    // reports before any search: no validity check is needed on the hot path.
    if (shape.getDimension() == geos::geom::Dimension::P) {
        state.store(kValid, std::memory_order_relaxed);
        return;
    }
    // Most query areas people draw are convex: those need no full check.
    if (IsStrictlyConvexPolygon(shape)) {
        state.store(kStrictlyConvex, std::memory_order_relaxed);
        return;
    }
    geos::operation::valid::IsValidOp check(&shape);
    if (check.isValid()) {
        state.store(kValid, std::memory_order_relaxed);
        return;
    }
    const auto* reason = check.getValidationError();
    throw InvalidShapeError(Culprit(), m_rows.Fid(row), reason ? reason->toString() : std::string("not valid"));
}

bool MemoryFeatureClass::KnownStrictlyConvex(std::size_t row) const {
    return m_search.validity[row].load(std::memory_order_relaxed) == kStrictlyConvex;
}

void MemoryFeatureClass::PrepareForThreads() const {
    EnsureRows();
    if (m_search.prepared_for_threads) return;
    // Stored shapes are made anew for each use, on the thread that uses them.
    if (const auto* empty = m_rows.EmptyPoint()) FillLazyEnvelopes(*empty);
    m_search.prepared_for_threads = true;
}

const std::map<std::int64_t, std::size_t>& MemoryFeatureClass::RowsByFid() const {
    EnsureRows();
    if (!m_search.rows_by_fid) {
        auto rows = std::make_unique<std::map<std::int64_t, std::size_t>>();
        for (std::size_t row = 0; row < m_rows.Count(); ++row) rows->emplace(m_rows.Fid(row), row);
        m_search.rows_by_fid = std::move(rows);
    }
    return *m_search.rows_by_fid;
}

const RowIndex& MemoryFeatureClass::Index() const {
    EnsureRows();
    if (!m_search.index) m_search.index = m_rows.BuildIndex();
    return *m_search.index;
}

}  // namespace selvane::gis
