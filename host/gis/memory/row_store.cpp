#include "gis/memory/row_store.h"

#include <algorithm>
#include <cmath>
#include <exception>

#include "gis/support/slices.h"
#include "gis/wkb/wkb_outline.h"
#include "platform/error.h"

namespace selvane::gis {
namespace {

// Rows whose bytes are worth a thread of their own to walk.
constexpr std::size_t kRowsForAThread = 20000;

// A stored row's dimension, in the high bits of its kind.
std::uint8_t DimensionBits(ShapeDimension dimension) {
    return static_cast<std::uint8_t>((static_cast<int>(dimension) + 1) << 4);
}
ShapeDimension DimensionOfBits(std::uint8_t kind) { return static_cast<ShapeDimension>((kind >> 4) - 1); }

}  // namespace

RowStore RowStore::Of(FeatureRows rows, const std::function<std::string()>& culprit) {
    const std::size_t count = rows.Count();
    auto id_runs = IdRunsOf(rows.m_fids);
    if (const auto duplicate = id_runs.empty() ? FirstDuplicateOfIds(rows.m_fids) : FirstDuplicateOfRuns(id_runs, count)) {
        throw platform::Error(platform::kFail, culprit() + " gives the object id " + std::to_string(*duplicate) +
                                                   " to more than one feature; each feature needs an id of its own");
    }
    const bool single_points = count > 0 && std::none_of(rows.m_kinds.begin(), rows.m_kinds.end(), [&](auto kind) {
                                   return kind == FeatureRows::kBytes;
                               }) && std::all_of(rows.m_shapes.begin(), rows.m_shapes.end(), [](const auto& shape) {
                                   return !shape || shape->getGeometryTypeId() == geos::geom::GeometryTypeId::GEOS_POINT;
                               });
    RowStore kept;
    if (single_points) {
        kept.KeepPoints(rows);
    } else {
        kept.KeepStored(rows);
    }
    // Ids that count up one a row (how most tables number their rows, with a gap where rows
    // were deleted, or a jump where a table was loaded in parts) are kept as runs: a run's
    // first row and id give every id in it, with no vector to keep and no load from one for
    // each feature. Ids in no such order stay a vector.
    kept.m_count = count;
    kept.m_id_runs = std::move(id_runs);
    if (kept.m_id_runs.empty()) kept.m_fids = std::move(rows.m_fids);
    return kept;
}

void RowStore::KeepPoints(FeatureRows& rows) {
    // Two numbers a row, and a kind.
    const std::size_t count = rows.Count();
    m_kinds.assign(count, kPlainRow);
    m_points = rows.m_with_points ? std::move(rows.m_points) : std::vector<PlainPoint>(count);
    for (std::size_t row = 0; row < count; ++row) {
        if (rows.m_kinds[row] == FeatureRows::kPoint) continue;
        if (rows.m_kinds[row] == FeatureRows::kNone) {
            m_kinds[row] = kNullRow;
            continue;
        }
        auto& shape = rows.m_shapes[row];
        if (shape->isEmpty()) {
            m_kinds[row] = kEmptyRow;
            if (!m_empty_point) m_empty_point = Shape::Factory().createPoint();
        } else {
            const auto& at = *shape->getCoordinate();
            m_points[row] = {at.x, at.y};
        }
        shape.reset();
    }
    for (std::size_t row = 0; row < count; ++row) {
        const auto& point = m_points[row];
        if (m_kinds[row] == kPlainRow && !(std::isfinite(point.x) && std::isfinite(point.y))) m_non_finite.push_back(row);
    }
}

void RowStore::KeepStored(FeatureRows& rows) {
    // Every row's shape as WKB. A reader's store is taken as it is when it holds every shape.
    const std::size_t count = rows.Count();
    if (rows.m_with_stored) rows.StoredUpTo(count);
    const bool all_stored = rows.m_with_stored && std::none_of(rows.m_kinds.begin(), rows.m_kinds.end(), [](auto kind) {
                                return kind == FeatureRows::kPoint || kind == FeatureRows::kShape;
                            });
    if (all_stored) {
        m_stored = std::move(rows.m_stored);
    } else {
        m_stored.Reserve(count);
        for (std::size_t row = 0; row < count; ++row) {
            switch (rows.m_kinds[row]) {
                case FeatureRows::kBytes: {
                    const auto bytes = rows.m_stored.Bytes(row);
                    m_stored.Add(bytes.data(), bytes.size());
                    break;
                }
                case FeatureRows::kPoint: {
                    const auto& point = rows.m_points[row];
                    m_stored.Add(*std::unique_ptr<geos::geom::Geometry>(
                        Shape::Factory().createPoint(geos::geom::Coordinate(point.x, point.y))));
                    break;
                }
                case FeatureRows::kShape:
                    m_stored.Add(*rows.m_shapes[row]);
                    rows.m_shapes[row].reset();
                    break;
                default: m_stored.AddNone();
            }
        }
    }
    // What the rows came in is copied: free it before the walk below.
    rows.m_stored = StoredShapes{};
    rows.m_shapes = decltype(rows.m_shapes)();
    rows.m_points = decltype(rows.m_points)();
    m_kinds.assign(count, kNullRow);
    // Each row's bytes are walked for its box and its form on every core, a slice of rows
    // each; the rows without a finite box are gathered in row order.
    const std::size_t threads = ThreadsFor(count, kRowsForAThread);
    std::vector<std::vector<std::size_t>> non_finite(threads);
    std::vector<std::exception_ptr> failures(threads);
    InSlices(count, threads, [&](std::size_t slot, std::size_t begin, std::size_t end) {
        try {
            for (std::size_t row = begin; row < end; ++row) {
                if (!m_stored.Has(row)) continue;
                const auto bytes = m_stored.Bytes(row);
                const auto extent = ExtentOfWkb(bytes.data(), bytes.size());
                std::uint8_t kind = kStoredRow;
                if (!extent.finite) {
                    non_finite[slot].push_back(row);
                } else if (extent.box.isNull()) {
                    kind = kEmptyRow;
                } else if (RectangleOfWkb(bytes.data(), bytes.size())) {
                    kind = kRectangleRow;
                }
                m_kinds[row] = static_cast<std::uint8_t>(kind | DimensionBits(DimensionOfWkb(extent.type)));
            }
        } catch (...) {
            failures[slot] = std::current_exception();
        }
    });
    for (const auto& failure : failures) {
        if (failure) std::rethrow_exception(failure);
    }
    for (const auto& rows_of_slice : non_finite) {
        m_non_finite.insert(m_non_finite.end(), rows_of_slice.begin(), rows_of_slice.end());
    }
}

RowShape RowStore::ShapeAt(std::size_t row) const {
    switch (m_kinds[row] & kKindBits) {
        case kPlainRow: {
            const auto& point = m_points[row];
            return RowShape(
                std::unique_ptr<geos::geom::Geometry>(Shape::Factory().createPoint(geos::geom::Coordinate(point.x, point.y))));
        }
        case kEmptyRow:
            if (m_empty_point) return RowShape(m_empty_point.get());
            return RowShape(m_stored.Make(row));
        case kStoredRow:
        case kRectangleRow: return RowShape(m_stored.Make(row));
        default: return RowShape();
    }
}

std::optional<geos::geom::Envelope> RowStore::RectangleAt(std::size_t row) const {
    if (!IsRectangleAt(row)) return std::nullopt;
    const auto bytes = m_stored.Bytes(row);
    return RectangleOfWkb(bytes.data(), bytes.size());
}

std::size_t RowStore::LineVerticesAt(std::size_t row, std::span<geos::geom::Coordinate> out) const {
    if ((m_kinds[row] & kKindBits) != kStoredRow || NonEmptyDimensionAt(row) != ShapeDimension::Line) return 0;
    const auto bytes = m_stored.Bytes(row);
    return LineStringVertices(bytes.data(), bytes.size(), out);
}

geos::geom::Envelope RowStore::EnvelopeAt(std::size_t row) const {
    switch (m_kinds[row] & kKindBits) {
        case kPlainRow: {
            const auto& point = m_points[row];
            return {point.x, point.x, point.y, point.y};
        }
        case kStoredRow:
        case kRectangleRow: {
            const auto bytes = m_stored.Bytes(row);
            return ExtentOfWkb(bytes.data(), bytes.size()).box;
        }
        default: return {};
    }
}

std::optional<ShapeDimension> RowStore::NonEmptyDimensionAt(std::size_t row) const {
    const std::uint8_t kind = m_kinds[row];
    switch (kind & kKindBits) {
        case kPlainRow: return ShapeDimension::Point;
        case kStoredRow:
        case kRectangleRow: return DimensionOfBits(kind);
        default: return std::nullopt;
    }
}

bool RowStore::Finite(std::size_t row) const {
    return !std::binary_search(m_non_finite.begin(), m_non_finite.end(), row);
}

std::unique_ptr<RowIndex> RowStore::BuildIndex() const {
    if (m_stored.Rows() == 0) {
        // Most tables of points have neither null nor bad points: the index then asks
        // nothing of each row (a call a row, twice, was 1.4% of the instructions of a run
        // over a million points).
        const bool every_row = m_non_finite.empty() && std::all_of(m_kinds.begin(), m_kinds.end(), [](std::uint8_t kind) {
                                   return kind == kPlainRow;
                               });
        std::function<bool(std::size_t)> indexed;
        if (!every_row) indexed = [this](std::size_t row) { return m_kinds[row] == kPlainRow && Finite(row); };
        return std::make_unique<RowIndex>(m_points, indexed);
    }
    auto index = std::make_unique<RowIndex>(m_count);
    for (std::size_t row = 0; row < m_count; ++row) {
        if (!Finite(row)) continue;
        const auto box = EnvelopeAt(row);
        if (!box.isNull()) index->InsertBox(box, row);
    }
    index->Build();
    return index;
}

}  // namespace selvane::gis
