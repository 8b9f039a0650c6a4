#pragma once

#include <geos/geom/Point.h>

#include <cstddef>
#include <memory>

#include "gis/geometry/shape.h"
#include "gis/memory/feature_class.h"
#include "platform/arcobjects.h"

namespace selvane::gis {

/// A scan of a class's rows in table order, as the shapes it hands out remember it: a
/// search whose query shape comes from such a scan may answer the rows to come, ahead.
struct MemoryScan : ShapeReading {
    MemoryScan(std::shared_ptr<const MemoryFeatureClass> scanned_class, RowMask shown_rows)
        : scanned(std::move(scanned_class)), shown(std::move(shown_rows)) {}
    void ShapesFrom(std::size_t row, std::size_t count, std::vector<std::size_t>& rows,
                    std::vector<std::string>& wkb) const override;
    std::weak_ptr<const MemoryFeatureClass> scanned;  // not held: the class holds what answers its scans
    RowMask shown;  // the rows the scan shows (null: all)
};

/// One row of a feature class. A recycling cursor moves one MemoryFeature from row to row.
class MemoryFeature : public platform::IFeature, public std::enable_shared_from_this<MemoryFeature> {
public:
    MemoryFeature(std::shared_ptr<const MemoryFeatureClass> owner, std::size_t row) : m_owner(std::move(owner)) {
        MoveTo(row);
    }

    void MoveTo(std::size_t row) {
        m_row = row;
        // Once the shape has been handed out it follows the feature; until then it is made
        // on first need: most features a search hands out are counted, not drawn.
        if (m_shape_asked) {
            MakeShape();
        } else {
            m_shape_made = false;
            m_shape.Borrow(m_owner.get(), nullptr, row);
        }
    }

    const MemoryFeatureClass& Owner() const { return *m_owner; }
    std::size_t Row() const { return m_row; }
    /// Marks the feature as one handed out by `scan`.
    void SetScan(std::shared_ptr<const MemoryScan> scan) { m_shape.SetReading(std::move(scan), m_row); }

    std::int64_t OID() override { return m_owner->Rows().Fid(m_row); }
    /// Shares this feature's lifetime; follows the feature when a recycling cursor moves it.
    std::shared_ptr<platform::IGeometry> Shape() override {
        m_shape_asked = true;
        if (!m_shape_made) MakeShape();
        if (!m_shape.Geometry()) return nullptr;
        return std::shared_ptr<platform::IGeometry>(shared_from_this(), &m_shape);
    }

private:
    void MakeShape() {
        m_shape_made = true;
        if (const auto* point = m_owner->Rows().PlainPointAt(m_row)) {
            // A row of plain points: a GEOS point of the feature's own, moved to the row, so
            // that a move costs no allocation.
            if (m_point) {
                MovePoint(*m_point, *point);
            } else {
                m_point.reset(Shape::Factory().createPoint(geos::geom::Coordinate(point->x, point->y)));
            }
            m_shape.Borrow(m_owner.get(), m_point.get(), m_row);
        } else {
            m_made = m_owner->Rows().ShapeAt(m_row);
            m_shape.Borrow(m_owner.get(), m_made.get(), m_row);
        }
    }

    std::shared_ptr<const MemoryFeatureClass> m_owner;
    std::size_t m_row = 0;
    bool m_shape_made = false;   // m_shape is the row's
    bool m_shape_asked = false;  // Shape() has been called
    std::unique_ptr<geos::geom::Point> m_point;  // the shape of a row of plain points
    RowShape m_made;                             // the shape of any other row
    gis::Shape m_shape;
};

}  // namespace selvane::gis
