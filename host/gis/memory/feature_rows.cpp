#include "gis/memory/feature_rows.h"

#include <iterator>
#include <stdexcept>

namespace selvane::gis {

void FeatureRows::Reserve(std::size_t rows, bool points) {
    m_fids.reserve(rows);
    m_kinds.reserve(rows);
    if (points) m_points.reserve(rows);
}

void FeatureRows::AddRow(std::int64_t fid, Kind kind) {
    m_fids.push_back(fid);
    m_kinds.push_back(kind);
    if (m_with_points) m_points.emplace_back();
    if (m_with_shapes) m_shapes.emplace_back();
}

void FeatureRows::WidenPoints() {
    if (m_with_points) return;
    m_with_points = true;
    m_points.resize(m_fids.size());
}
void FeatureRows::WidenShapes() {
    if (m_with_shapes) return;
    m_with_shapes = true;
    m_shapes.resize(m_fids.size());
}
void FeatureRows::StoredUpTo(std::size_t rows) {
    if (!m_with_stored) {
        m_with_stored = true;
        m_stored.Reserve(m_fids.capacity());
    }
    while (m_stored.Rows() < rows) m_stored.AddNone();
}

void FeatureRows::AddPoint(std::int64_t fid, PlainPoint point) {
    WidenPoints();
    AddRow(fid, kPoint);
    m_points.back() = point;
}

void FeatureRows::AddBytes(std::int64_t fid, const unsigned char* wkb, std::size_t size) {
    StoredUpTo(m_fids.size());
    AddRow(fid, kBytes);
    m_stored.Add(wkb, size);
}

void FeatureRows::AddShape(std::int64_t fid, std::unique_ptr<geos::geom::Geometry> shape) {
    if (!shape) return AddNone(fid);
    WidenShapes();
    AddRow(fid, kShape);
    m_shapes.back() = std::move(shape);
}

void FeatureRows::AddRead(std::int64_t fid, std::unique_ptr<geos::geom::Geometry> shape, const unsigned char* wkb,
                          std::size_t size) {
    if (shape && shape->getGeometryTypeId() != geos::geom::GeometryTypeId::GEOS_POINT) return AddBytes(fid, wkb, size);
    AddShape(fid, std::move(shape));
}

void FeatureRows::SetBytes(std::size_t row, const unsigned char* wkb, std::size_t size) {
    if (row < m_stored.Rows()) throw std::logic_error("stored shapes given out of row order");
    StoredUpTo(row);
    m_kinds[row] = kBytes;
    m_stored.Add(wkb, size);
}

void FeatureRows::SetShape(std::size_t row, std::unique_ptr<geos::geom::Geometry> shape) {
    if (!shape) return;
    WidenShapes();
    m_kinds[row] = kShape;
    m_shapes[row] = std::move(shape);
}

void FeatureRows::AddNone(std::int64_t fid) { AddRow(fid, kNone); }

void FeatureRows::Append(FeatureRows&& more) {
    const std::size_t added = more.Count();
    if (added == 0) return;
    if (more.m_with_points) WidenPoints();
    if (more.m_with_shapes) WidenShapes();
    if (more.m_with_stored) StoredUpTo(Count());
    if (m_with_points) more.WidenPoints();
    if (m_with_shapes) more.WidenShapes();
    if (m_with_stored) more.StoredUpTo(more.Count());
    m_fids.insert(m_fids.end(), more.m_fids.begin(), more.m_fids.end());
    m_kinds.insert(m_kinds.end(), more.m_kinds.begin(), more.m_kinds.end());
    m_points.insert(m_points.end(), more.m_points.begin(), more.m_points.end());
    m_shapes.insert(m_shapes.end(), std::make_move_iterator(more.m_shapes.begin()),
                    std::make_move_iterator(more.m_shapes.end()));
    m_stored.Append(std::move(more.m_stored));
    more = FeatureRows{};
}

}  // namespace selvane::gis
