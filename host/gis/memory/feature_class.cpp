#include "gis/memory/feature_class.h"

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

// Rows whose bytes are worth a thread of their own to walk.
constexpr std::size_t kRowsForAThread = 20000;

// A stored row's dimension, in the high bits of its kind.
std::uint8_t DimensionBits(ShapeDimension dimension) {
    return static_cast<std::uint8_t>((static_cast<int>(dimension) + 1) << 4);
}
ShapeDimension DimensionOfBits(std::uint8_t kind) { return static_cast<ShapeDimension>((kind >> 4) - 1); }

}  // namespace

void AddReadShape(FeatureRows& rows, std::unique_ptr<geos::geom::Geometry> shape, const unsigned char* wkb,
                  std::size_t size) {
    if (shape && shape->getGeometryTypeId() != geos::geom::GeometryTypeId::GEOS_POINT) {
        rows.stored.Add(wkb, size);
        rows.shapes.emplace_back();
    } else {
        rows.stored.AddNone();
        rows.shapes.push_back(std::move(shape));
    }
}

void AppendRows(FeatureRows& rows, FeatureRows&& more) {
    const std::size_t count = rows.fids.size();
    const std::size_t added = more.fids.size();
    // A side that has no points, or no stored shapes, has none for each of its rows.
    const auto pad_points = [](FeatureRows& side, std::size_t rows_of_side) {
        side.points.resize(rows_of_side);
        side.plain.resize(rows_of_side, 0);
    };
    if (rows.points.empty() != more.points.empty()) {
        pad_points(rows, count);
        pad_points(more, added);
    }
    if (rows.stored.Rows() == 0 && more.stored.Rows() > 0) {
        for (std::size_t row = 0; row < count; ++row) rows.stored.AddNone();
    }
    if (more.stored.Rows() == 0 && rows.stored.Rows() > 0) {
        for (std::size_t row = 0; row < added; ++row) more.stored.AddNone();
    }
    rows.fids.insert(rows.fids.end(), more.fids.begin(), more.fids.end());
    rows.shapes.insert(rows.shapes.end(), std::make_move_iterator(more.shapes.begin()),
                       std::make_move_iterator(more.shapes.end()));
    rows.points.insert(rows.points.end(), more.points.begin(), more.points.end());
    rows.plain.insert(rows.plain.end(), more.plain.begin(), more.plain.end());
    rows.stored.Append(std::move(more.stored));
    more = FeatureRows{};
}

MemoryFeatureClass::MemoryFeatureClass(std::string name, std::string shape_field, ShapeDimension dimension,
                                       std::shared_ptr<const OGRSpatialReference> spatial_reference,
                                       std::vector<std::int64_t> fids,
                                       std::vector<std::unique_ptr<geos::geom::Geometry>> shapes)
    : m_name(std::move(name)),
      m_shape_field(std::move(shape_field)),
      m_dimension(dimension),
      m_spatial_reference(std::move(spatial_reference)) {
    AdoptRows({std::move(fids), std::move(shapes), {}, {}, {}});
}

MemoryFeatureClass::MemoryFeatureClass(std::string name, std::string shape_field, ShapeDimension dimension,
                                       std::shared_ptr<const OGRSpatialReference> spatial_reference, RowReader reader,
                                       std::shared_ptr<const EngineTuning> tuning)
    : m_name(std::move(name)),
      m_shape_field(std::move(shape_field)),
      m_dimension(dimension),
      m_spatial_reference(std::move(spatial_reference)),
      m_tuning(std::move(tuning)) {
    m_rows.reader = std::move(reader);
}

void MemoryFeatureClass::EnsureRows() const {
    if (!m_rows.reader) return;
    AdoptRows(m_rows.reader());
    m_rows.reader = nullptr;
}

void MemoryFeatureClass::AdoptRows(FeatureRows rows) const {
    const std::size_t count = rows.fids.size();
    if (rows.shapes.size() != count || (!rows.points.empty() && rows.points.size() != count) ||
        rows.plain.size() != rows.points.size() || (rows.stored.Rows() != 0 && rows.stored.Rows() != count)) {
        throw platform::Error(platform::kInvalidArg, "Object ids and shapes differ in number");
    }
    auto id_runs = IdRunsOf(rows.fids);
    if (const auto duplicate = id_runs.empty() ? FirstDuplicateOfIds(rows.fids) : FirstDuplicateOfRuns(id_runs, count)) {
        throw platform::Error(platform::kFail, Culprit() + " gives the object id " + std::to_string(*duplicate) +
                                                   " to more than one feature; each feature needs an id of its own");
    }
    const auto plain = [&rows](std::size_t row) { return !rows.plain.empty() && rows.plain[row]; };
    const auto stored = [&rows](std::size_t row) { return rows.stored.Rows() != 0 && rows.stored.Has(row); };
    const bool single_points = count > 0 && [&] {
        for (std::size_t row = 0; row < count; ++row) {
            const auto& shape = rows.shapes[row];
            if (stored(row)) return false;
            if (!plain(row) && shape && shape->getGeometryTypeId() != geos::geom::GeometryTypeId::GEOS_POINT) return false;
        }
        return true;
    }();
    Rows kept;
    if (single_points) {
        // Every shape a single point, none or an empty one: two numbers a row, and a kind.
        kept.kinds.assign(count, kPlainRow);
        kept.points = rows.points.empty() ? std::vector<PlainPoint>(count) : std::move(rows.points);
        for (std::size_t row = 0; row < count; ++row) {
            auto& shape = rows.shapes[row];
            if (plain(row)) continue;
            if (!shape) {
                kept.kinds[row] = kNullRow;
            } else if (shape->isEmpty()) {
                kept.kinds[row] = kEmptyRow;
                if (!kept.empty_point) kept.empty_point = Shape::Factory().createPoint();
            } else {
                const auto& at = *shape->getCoordinate();
                kept.points[row] = {at.x, at.y};
            }
            shape.reset();
        }
        for (std::size_t row = 0; row < count; ++row) {
            const auto& point = kept.points[row];
            if (kept.kinds[row] == kPlainRow && !(std::isfinite(point.x) && std::isfinite(point.y))) {
                kept.non_finite.push_back(row);
            }
        }
    } else {
        // Any other class: every row's shape as WKB. A reader's store is taken as it is when
        // it holds every shape.
        const bool all_stored = [&] {
            for (std::size_t row = 0; row < count; ++row) {
                if (!stored(row) && (plain(row) || rows.shapes[row])) return false;
            }
            return rows.stored.Rows() == count;
        }();
        if (all_stored) {
            kept.stored = std::move(rows.stored);
        } else {
            for (std::size_t row = 0; row < count; ++row) {
                if (stored(row)) {
                    const auto bytes = rows.stored.Bytes(row);
                    kept.stored.Add(bytes.data(), bytes.size());
                } else if (plain(row)) {
                    const auto& point = rows.points[row];
                    kept.stored.Add(*std::unique_ptr<geos::geom::Geometry>(
                        Shape::Factory().createPoint(geos::geom::Coordinate(point.x, point.y))));
                } else if (const auto& shape = rows.shapes[row]) {
                    kept.stored.Add(*shape);
                    rows.shapes[row].reset();
                } else {
                    kept.stored.AddNone();
                }
            }
        }
        // What the rows came in is copied: free it before the walk below.
        rows.stored = StoredShapes{};
        rows.shapes = decltype(rows.shapes)();
        rows.points = decltype(rows.points)();
        kept.kinds.assign(count, kNullRow);
        // Each row's bytes are walked for its box and its form on every core, a slice of
        // rows each; the rows without a finite box are gathered in row order.
        const std::size_t threads = ThreadsFor(count, kRowsForAThread);
        std::vector<std::vector<std::size_t>> non_finite(threads);
        std::vector<std::exception_ptr> failures(threads);
        InSlices(count, threads, [&](std::size_t slot, std::size_t begin, std::size_t end) {
            try {
                for (std::size_t row = begin; row < end; ++row) {
                    if (!kept.stored.Has(row)) continue;
                    const auto bytes = kept.stored.Bytes(row);
                    const auto extent = ExtentOfWkb(bytes.data(), bytes.size());
                    std::uint8_t kind = kStoredRow;
                    if (!extent.finite) {
                        non_finite[slot].push_back(row);
                    } else if (extent.box.isNull()) {
                        kind = kEmptyRow;
                    } else if (RectangleOfWkb(bytes.data(), bytes.size())) {
                        kind = kRectangleRow;
                    }
                    kept.kinds[row] = static_cast<std::uint8_t>(kind | DimensionBits(DimensionOfWkb(extent.type)));
                }
            } catch (...) {
                failures[slot] = std::current_exception();
            }
        });
        for (const auto& failure : failures) {
            if (failure) std::rethrow_exception(failure);
        }
        for (const auto& rows_of_slice : non_finite) {
            kept.non_finite.insert(kept.non_finite.end(), rows_of_slice.begin(), rows_of_slice.end());
        }
    }
    // Ids that count up one a row (how most tables number their rows, with a gap where rows
    // were deleted, or a jump where a table was loaded in parts) are kept as runs: a run's
    // first row and id give every id in it, with no vector to keep and no load from one for
    // each feature. Ids in no such order stay a vector.
    kept.count = count;
    kept.id_runs = std::move(id_runs);
    if (kept.id_runs.empty()) kept.fids = std::move(rows.fids);
    m_rows = std::move(kept);
    m_search.validity = std::make_unique<std::atomic<std::uint8_t>[]>(m_rows.count);
}

RowShape MemoryFeatureClass::ShapeAt(std::size_t row) const {
    switch (m_rows.kinds[row] & kKindBits) {
        case kPlainRow: {
            const auto& point = m_rows.points[row];
            return RowShape(
                std::unique_ptr<geos::geom::Geometry>(Shape::Factory().createPoint(geos::geom::Coordinate(point.x, point.y))));
        }
        case kEmptyRow:
            if (m_rows.empty_point) return RowShape(m_rows.empty_point.get());
            return RowShape(m_rows.stored.Make(row));
        case kStoredRow:
        case kRectangleRow: return RowShape(m_rows.stored.Make(row));
        default: return RowShape();
    }
}

std::optional<geos::geom::Envelope> MemoryFeatureClass::RectangleAt(std::size_t row) const {
    if (!IsRectangleAt(row)) return std::nullopt;
    const auto bytes = m_rows.stored.Bytes(row);
    return RectangleOfWkb(bytes.data(), bytes.size());
}

std::size_t MemoryFeatureClass::LineVerticesAt(std::size_t row, std::span<geos::geom::Coordinate> out) const {
    if ((m_rows.kinds[row] & kKindBits) != kStoredRow || NonEmptyDimensionAt(row) != ShapeDimension::Line) return 0;
    const auto bytes = m_rows.stored.Bytes(row);
    return LineStringVertices(bytes.data(), bytes.size(), out);
}

geos::geom::Envelope MemoryFeatureClass::EnvelopeAt(std::size_t row) const {
    switch (m_rows.kinds[row] & kKindBits) {
        case kPlainRow: {
            const auto& point = m_rows.points[row];
            return {point.x, point.x, point.y, point.y};
        }
        case kStoredRow:
        case kRectangleRow: {
            const auto bytes = m_rows.stored.Bytes(row);
            return ExtentOfWkb(bytes.data(), bytes.size()).box;
        }
        default: return {};
    }
}

std::optional<ShapeDimension> MemoryFeatureClass::NonEmptyDimensionAt(std::size_t row) const {
    const std::uint8_t kind = m_rows.kinds[row];
    switch (kind & kKindBits) {
        case kPlainRow: return ShapeDimension::Point;
        case kStoredRow:
        case kRectangleRow: return DimensionOfBits(kind);
        default: return std::nullopt;
    }
}

void MemoryFeatureClass::AddLayerName(const std::string& name) { m_layer_names.Add(name); }

std::string MemoryFeatureClass::Culprit() const {
    if (m_culprit) return m_culprit();
    std::string source = "table " + m_name;
    if (!m_source_path.empty()) source += ", file " + m_source_path;
    return m_layer_names.Around(source);
}

void MemoryFeatureClass::RequireFinite(std::size_t row) const {
    if (!std::binary_search(m_rows.non_finite.begin(), m_rows.non_finite.end(), row)) return;
    throw InvalidShapeError(Culprit(), Fid(row), kNotFiniteReason);
}

void MemoryFeatureClass::RequireAllFinite() const {
    EnsureRows();
    if (!m_rows.non_finite.empty()) RequireFinite(m_rows.non_finite.front());
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
                                                    std::to_string(query_class->Fid(query->Row()))
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
    const auto kind = m_rows.kinds[row] & kKindBits;
    if (kind == kPlainRow || kind == kRectangleRow || kind == kNullRow) return;
    if (m_search.validity[row].load(std::memory_order_relaxed) != 0) return;
    const auto shape = ShapeAt(row);
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
    throw InvalidShapeError(Culprit(), Fid(row), reason ? reason->toString() : std::string("not valid"));
}

bool MemoryFeatureClass::KnownStrictlyConvex(std::size_t row) const {
    return m_search.validity[row].load(std::memory_order_relaxed) == kStrictlyConvex;
}

void MemoryFeatureClass::PrepareForThreads() const {
    EnsureRows();
    if (m_search.prepared_for_threads) return;
    // Stored shapes are made anew for each use, on the thread that uses them.
    if (m_rows.empty_point) FillLazyEnvelopes(*m_rows.empty_point);
    m_search.prepared_for_threads = true;
}

const RowIndex& MemoryFeatureClass::Index() const {
    EnsureRows();
    if (!m_search.index) {
        const auto finite = [this](std::size_t row) {
            return !std::binary_search(m_rows.non_finite.begin(), m_rows.non_finite.end(), row);
        };
        std::unique_ptr<RowIndex> index;
        if (m_rows.stored.Rows() == 0) {
            // Most tables of points have neither null nor bad points: the index then asks
            // nothing of each row (a call a row, twice, was 1.4% of the instructions of a run
            // over a million points).
            const bool every_row = m_rows.non_finite.empty() &&
                                   std::all_of(m_rows.kinds.begin(), m_rows.kinds.end(),
                                               [](std::uint8_t kind) { return kind == kPlainRow; });
            std::function<bool(std::size_t)> indexed;
            if (!every_row) indexed = [&](std::size_t row) { return m_rows.kinds[row] == kPlainRow && finite(row); };
            index = std::make_unique<RowIndex>(m_rows.points, indexed);
        } else {
            index = std::make_unique<RowIndex>(m_rows.count);
            for (std::size_t row = 0; row < m_rows.count; ++row) {
                if (!finite(row)) continue;
                const auto box = EnvelopeAt(row);
                if (!box.isNull()) index->InsertBox(box, row);
            }
            index->Build();
        }
        m_search.index = std::move(index);
    }
    return *m_search.index;
}

}  // namespace selvane::gis
