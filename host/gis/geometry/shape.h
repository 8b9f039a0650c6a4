#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "gis/geometry/geos_include.h"
#include "platform/arcobjects.h"

class OGRSpatialReference;

namespace selvane::gis {

/// A single point as its two coordinates, without a GEOS object around it.
struct PlainPoint {
    double x = 0;
    double y = 0;
};

/// The declared shape type of a feature class, by dimension; Mixed is not gated.
enum class ShapeDimension : int { Mixed = -1, Point = 0, Line = 1, Area = 2 };

/// The feature class a shape was read from, as any kind of search needs to know it: its
/// declared type and system, and the checks a row's shape must pass before a predicate.
class ShapeOrigin {
public:
    virtual ~ShapeOrigin() = default;
    virtual ShapeDimension Dimension() const = 0;
    virtual const std::shared_ptr<const OGRSpatialReference>& SpatialReference() const = 0;
    /// Throws platform::Error naming the class and the row's FID when the row's shape has a
    /// coordinate that is not a finite number.
    virtual void RequireFinite(std::size_t row) const = 0;
    /// Throws platform::Error naming the class, the FID and GEOS's reason when the row's
    /// shape is not valid.
    virtual void RequireValid(std::size_t row) const = 0;
    /// RequireValid, for a caller who holds the row's shape as the class gave it.
    virtual void RequireValid(std::size_t row, const geos::geom::Geometry& shape) const {
        static_cast<void>(shape);
        RequireValid(row);
    }
    /// Whether RequireValid has found the row's shape a strictly convex polygon
    /// (IsStrictlyConvexPolygon); false says nothing.
    virtual bool KnownStrictlyConvex(std::size_t row) const {
        static_cast<void>(row);
        return false;
    }
};

/// How a shape was read, noted by the engine that read it for its own searches (the batch
/// of a database scan, the rows a scan of a class shows): a search of the same engine may
/// answer the shapes that reading hands out next, ahead.
class ShapeReading {
public:
    virtual ~ShapeReading() = default;
    /// The shapes this reading hands out from its row `row` on, in order, at most `count`:
    /// each one's row into `rows` and its WKB into `wkb` (empty for a row without a shape),
    /// so that a search of another engine may answer them ahead. Nothing when the reading
    /// cannot tell.
    virtual void ShapesFrom(std::size_t row, std::size_t count, std::vector<std::size_t>& rows,
                            std::vector<std::string>& wkb) const {
        static_cast<void>(row), static_cast<void>(count), static_cast<void>(rows), static_cast<void>(wkb);
    }
};

/// A shape handed out by the map model: either a feature's shape, borrowed from its
/// feature class, or a free-standing geometry that the shape owns (built by a caller).
class Shape : public platform::IGeometry {
public:
    Shape() = default;
    /// A free-standing shape; `spatial_reference` may be null (taken as the target's).
    Shape(std::unique_ptr<geos::geom::Geometry> geometry,
          std::shared_ptr<const OGRSpatialReference> spatial_reference);

    /// Points the shape at row `row` of `origin`, whose shape that row holds (a feature's
    /// shape; `geometry` is nullptr for a feature without one).
    void Borrow(const ShapeOrigin* origin, const geos::geom::Geometry* geometry, std::size_t row) {
        m_origin = origin;
        m_row = row;
        m_geometry = geometry;
    }

    /// The geometry, or nullptr for a feature without a shape.
    const geos::geom::Geometry* Geometry() const { return m_geometry; }
    /// The spatial reference, or nullptr when unknown.
    const std::shared_ptr<const OGRSpatialReference>& SpatialReference() const {
        return m_origin ? m_origin->SpatialReference() : m_spatial_reference;
    }
    /// The feature class and row the shape belongs to; nullptr for a free-standing shape.
    const ShapeOrigin* Origin() const { return m_origin; }
    std::size_t Row() const { return m_row; }
    /// The declared shape type of the class a free-standing shape was read from (a
    /// database table's), so that searches gate on the class rather than on one shape.
    void SetClassDimension(ShapeDimension dimension) { m_class_dimension = dimension; }
    std::optional<ShapeDimension> ClassDimension() const { return m_class_dimension; }
    /// How the shape was read; `row` is its row in what that reading reads (the row of its
    /// origin for a borrowed shape, which Borrow moves on).
    void SetReading(std::shared_ptr<const ShapeReading> reading, std::size_t row) {
        m_reading = std::move(reading);
        m_row = row;
    }
    const std::shared_ptr<const ShapeReading>& Reading() const { return m_reading; }

    bool IsEmpty() const override { return !m_geometry || m_geometry->isEmpty(); }

    /// The factory of every geometry the map model makes (loaded shapes, WKT shapes).
    static const geos::geom::GeometryFactory& Factory();

    /// A free-standing shape from well-known text (tests and tools).
    static std::shared_ptr<Shape> FromWkt(const std::string& wkt,
                                          std::shared_ptr<const OGRSpatialReference> spatial_reference = nullptr);

private:
    std::unique_ptr<geos::geom::Geometry> m_owned;
    std::shared_ptr<const OGRSpatialReference> m_spatial_reference;
    const geos::geom::Geometry* m_geometry = nullptr;
    const ShapeOrigin* m_origin = nullptr;
    std::size_t m_row = 0;
    std::optional<ShapeDimension> m_class_dimension;
    std::shared_ptr<const ShapeReading> m_reading;
};

/// Moves `point` to `to`, as if made there.
void MovePoint(geos::geom::Point& point, const PlainPoint& to);

/// Works out now the envelopes that GEOS works out lazily inside a shape (of the shape, its
/// parts and their rings), so that several threads may read the shape without racing to
/// fill them.
void FillLazyEnvelopes(const geos::geom::Geometry& shape);

/// Whether every coordinate is a finite number; NaN compares false with everything, so an
/// envelope may look finite around it.
bool AllCoordinatesFinite(const geos::geom::Geometry& shape);

}  // namespace selvane::gis
