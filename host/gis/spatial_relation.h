#pragma once

#include <string>

#include "gis/feature_class.h"
#include "gis/geos_include.h"

#include <geos/algorithm/locate/SimplePointInAreaLocator.h>
#include "platform/arcobjects.h"

namespace selvane::gis {

/// The relation's name as the spatial filter's code calls it ("esriSpatialRelTouches").
const char* RelationName(platform::esriSpatialRelEnum relation);

/// Throws platform::Error for a code the search does not evaluate.
void RequireSupportedRelation(platform::esriSpatialRelEnum relation);

/// Throws platform::Error, naming the relation and both shape types, when the relation
/// can never hold between a query shape of `query_dimension` and the features of
/// `target` (TOUCH point/point, OVERLAP across dimensions, CROSS point/point and
/// area/area, query within target from a higher dimension, query contains target from a
/// lower one). A Mixed class or query is not gated.
void RequireRelationCanHold(platform::esriSpatialRelEnum relation, ShapeDimension query_dimension,
                            const FeatureClass& target);
/// The same, for a target class of `target_dimension` that messages call `target`.
void RequireRelationCanHold(platform::esriSpatialRelEnum relation, ShapeDimension query_dimension,
                            ShapeDimension target_dimension, const std::string& target);

/// Throws platform::Error unless the spatial filter names `shape_field` (in any case) of
/// the table `table`.
void RequireShapeField(const std::string& field, const std::string& shape_field, const std::string& table);

/// Whether the relation can hold between shapes of these dimensions; true when either is Mixed.
bool RelationCanHold(platform::esriSpatialRelEnum relation, ShapeDimension query, ShapeDimension target);

/// The dimension of a query geometry; Mixed for a heterogeneous collection.
ShapeDimension DimensionOf(const geos::geom::Geometry& geometry);

/// Whether `relation` holds with the prepared query as first operand. For
/// esriSpatialRelEnvelopeIntersects the envelopes are compared. GEOS failures propagate.
/// TOUCH, OVERLAP, CROSS and WHOLLY CONTAIN each imply that the shapes intersect, and
/// GEOS 3.11 answers them with a full relate: its fast prepared intersects rules out the
/// candidates that merely share an envelope first, without changing any answer.
inline bool RelationHolds(platform::esriSpatialRelEnum relation, const geos::geom::prep::PreparedGeometry& query,
                          const geos::geom::Geometry& target) {
    switch (relation) {
        case platform::esriSpatialRelIntersects: return query.intersects(&target);
        case platform::esriSpatialRelEnvelopeIntersects:
            return query.getGeometry().getEnvelopeInternal()->intersects(target.getEnvelopeInternal());
        case platform::esriSpatialRelTouches: return query.intersects(&target) && query.touches(&target);
        case platform::esriSpatialRelOverlaps: return query.intersects(&target) && query.overlaps(&target);
        case platform::esriSpatialRelCrosses: return query.intersects(&target) && query.crosses(&target);
        case platform::esriSpatialRelWithin: {
            // A point lies within an area exactly when it lies in the area's interior: a
            // point-in-polygon test answers that without a full relate.
            const auto& shape = query.getGeometry();
            if (shape.getGeometryTypeId() == geos::geom::GeometryTypeId::GEOS_POINT &&
                target.getDimension() == geos::geom::Dimension::A) {
                return geos::algorithm::locate::SimplePointInAreaLocator::locate(*shape.getCoordinate(), &target) ==
                       geos::geom::Location::INTERIOR;
            }
            return query.intersects(&target) && query.within(&target);
        }
        case platform::esriSpatialRelContains: return query.contains(&target);
        default: return false;
    }
}

}  // namespace selvane::gis
