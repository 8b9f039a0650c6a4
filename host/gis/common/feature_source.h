#pragma once

// A feature layer of any engine as a drawing reads it: its class's system and extent, and
// the shapes it shows within a box. The desktop's renderer and layer tree know layers by
// this alone, whichever engine holds their rows.

#include <functional>
#include <memory>
#include <span>
#include <string>

#include "gis/common/gdal_table.h"
#include "gis/geometry/geos_include.h"
#include "gis/geometry/shape.h"

class OGRSpatialReference;

namespace selvane::gis {

/// What a drawing asks for.
struct ShapeRequest {
    geos::geom::Envelope box;    ///< in the class's coordinates
    double cell = 0;             ///< > 0: shapes smaller than a cell may come as one sample a cell
    bool selected_only = false;  ///< only the features the layer's selection holds
};

/// One shape handed to a drawing, valid during the call: a GEOS shape, or the checked WKB
/// of one (which a drawing traces without making the shape), or, for a single point or a
/// sample, its box alone.
struct ShapeInView {
    geos::geom::Envelope box;  ///< the shape's envelope
    ShapeDimension dimension = ShapeDimension::Point;
    const geos::geom::Geometry* shape = nullptr;
    std::span<const unsigned char> wkb;
    /// The shape is a sample: a point standing for every shape smaller than a cell in its
    /// cell (at the lower left of one's envelope, or at the centre of a cell of points).
    bool sample = false;

    static ShapeInView Of(const geos::geom::Geometry& shape, bool sample = false) {
        const auto geos_dimension = shape.getDimension();
        const auto dimension = geos_dimension == geos::geom::Dimension::P   ? ShapeDimension::Point
                               : geos_dimension == geos::geom::Dimension::L ? ShapeDimension::Line
                               : geos_dimension == geos::geom::Dimension::A ? ShapeDimension::Area
                                                                            : ShapeDimension::Mixed;
        return {*shape.getEnvelopeInternal(), dimension, &shape, {}, sample};
    }
    static ShapeInView Point(double x, double y, bool sample) { return {{x, x, y, y}, ShapeDimension::Point, nullptr, {}, sample}; }
};

using ShapeVisitor = std::function<void(const ShapeInView&)>;

class FeatureSource {
public:
    virtual ~FeatureSource() = default;

    /// The feature class the layer shows: layers of one class share a colour.
    virtual const void* ClassIdentity() const = 0;
    virtual ShapeDimension ClassDimension() const = 0;
    virtual const std::shared_ptr<const OGRSpatialReference>& ClassSpatialReference() const = 0;
    /// Where GDAL reads the class's features and their attributes, by id.
    virtual GdalTable ClassGdalTable() const = 0;
    /// The extent of the class's shapes in its own coordinates; null when it has none.
    /// Throws platform::Error when they cannot be read.
    virtual geos::geom::Envelope ClassExtent() = 0;
    /// Calls `visit` with every shape the layer shows whose envelope meets the request's
    /// box (each once; samples may stand for several). Throws platform::Error when the
    /// shapes cannot be read.
    virtual void ReadShapes(const ShapeRequest& request, const ShapeVisitor& visit) = 0;
    /// What the layer is, for a person: its kind, table, size and definition query.
    virtual std::string Description() = 0;
};

}  // namespace selvane::gis
