#include "gis/memory/row_store.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <iterator>

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

RowStore RowStore::Of(FeatureRows rows, const std::function<std::string()>& culprit) {
    const std::size_t count = rows.fids.size();
    if (rows.shapes.size() != count || (!rows.points.empty() && rows.points.size() != count) ||
        rows.plain.size() != rows.points.size() || (rows.stored.Rows() != 0 && rows.stored.Rows() != count)) {
        throw platform::Error(platform::kInvalidArg, "Object ids and shapes differ in number");
    }
    auto id_runs = IdRunsOf(rows.fids);
    if (const auto duplicate = id_runs.empty() ? FirstDuplicateOfIds(rows.fids) : FirstDuplicateOfRuns(id_runs, count)) {
        throw platform::Error(platform::kFail, culprit() + " gives the object id " + std::to_string(*duplicate) +
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
    RowStore kept;
    if (single_points) {
        // Every shape a single point, none or an empty one: two numbers a row, and a kind.
        kept.m_kinds.assign(count, kPlainRow);
        kept.m_points = rows.points.empty() ? std::vector<PlainPoint>(count) : std::move(rows.points);
        for (std::size_t row = 0; row < count; ++row) {
            auto& shape = rows.shapes[row];
            if (plain(row)) continue;
            if (!shape) {
                kept.m_kinds[row] = kNullRow;
            } else if (shape->isEmpty()) {
                kept.m_kinds[row] = kEmptyRow;
                if (!kept.m_empty_point) kept.m_empty_point = Shape::Factory().createPoint();
            } else {
                const auto& at = *shape->getCoordinate();
                kept.m_points[row] = {at.x, at.y};
            }
            shape.reset();
        }
        for (std::size_t row = 0; row < count; ++row) {
            const auto& point = kept.m_points[row];
            if (kept.m_kinds[row] == kPlainRow && !(std::isfinite(point.x) && std::isfinite(point.y))) {
                kept.m_non_finite.push_back(row);
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
            kept.m_stored = std::move(rows.stored);
        } else {
            for (std::size_t row = 0; row < count; ++row) {
                if (stored(row)) {
                    const auto bytes = rows.stored.Bytes(row);
                    kept.m_stored.Add(bytes.data(), bytes.size());
                } else if (plain(row)) {
                    const auto& point = rows.points[row];
                    kept.m_stored.Add(*std::unique_ptr<geos::geom::Geometry>(
                        Shape::Factory().createPoint(geos::geom::Coordinate(point.x, point.y))));
                } else if (const auto& shape = rows.shapes[row]) {
                    kept.m_stored.Add(*shape);
                    rows.shapes[row].reset();
                } else {
                    kept.m_stored.AddNone();
                }
            }
        }
        // What the rows came in is copied: free it before the walk below.
        rows.stored = StoredShapes{};
        rows.shapes = decltype(rows.shapes)();
        rows.points = decltype(rows.points)();
        kept.m_kinds.assign(count, kNullRow);
        // Each row's bytes are walked for its box and its form on every core, a slice of
        // rows each; the rows without a finite box are gathered in row order.
        const std::size_t threads = ThreadsFor(count, kRowsForAThread);
        std::vector<std::vector<std::size_t>> non_finite(threads);
        std::vector<std::exception_ptr> failures(threads);
        InSlices(count, threads, [&](std::size_t slot, std::size_t begin, std::size_t end) {
            try {
                for (std::size_t row = begin; row < end; ++row) {
                    if (!kept.m_stored.Has(row)) continue;
                    const auto bytes = kept.m_stored.Bytes(row);
                    const auto extent = ExtentOfWkb(bytes.data(), bytes.size());
                    std::uint8_t kind = kStoredRow;
                    if (!extent.finite) {
                        non_finite[slot].push_back(row);
                    } else if (extent.box.isNull()) {
                        kind = kEmptyRow;
                    } else if (RectangleOfWkb(bytes.data(), bytes.size())) {
                        kind = kRectangleRow;
                    }
                    kept.m_kinds[row] = static_cast<std::uint8_t>(kind | DimensionBits(DimensionOfWkb(extent.type)));
                }
            } catch (...) {
                failures[slot] = std::current_exception();
            }
        });
        for (const auto& failure : failures) {
            if (failure) std::rethrow_exception(failure);
        }
        for (const auto& rows_of_slice : non_finite) {
            kept.m_non_finite.insert(kept.m_non_finite.end(), rows_of_slice.begin(), rows_of_slice.end());
        }
    }
    // Ids that count up one a row (how most tables number their rows, with a gap where rows
    // were deleted, or a jump where a table was loaded in parts) are kept as runs: a run's
    // first row and id give every id in it, with no vector to keep and no load from one for
    // each feature. Ids in no such order stay a vector.
    kept.m_count = count;
    kept.m_id_runs = std::move(id_runs);
    if (kept.m_id_runs.empty()) kept.m_fids = std::move(rows.fids);
    return kept;
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
