#include "gis/geometry/spatial_relation.h"

#include <geos/geom/GeometryCollection.h>

#include <algorithm>

#include "gis/support/ascii_case.h"

namespace selvane::gis {
namespace {

const char* ShapeTypeName(ShapeDimension dimension) {
    switch (dimension) {
        case ShapeDimension::Point: return "point";
        case ShapeDimension::Line: return "line";
        case ShapeDimension::Area: return "polygon";
        default: return "mixed";
    }
}

bool CanHold(platform::esriSpatialRelEnum relation, int query, int target) {
    switch (relation) {
        case platform::esriSpatialRelTouches: return !(query == 0 && target == 0);
        case platform::esriSpatialRelOverlaps: return query == target;
        case platform::esriSpatialRelCrosses: return !(query == target && query != 1);
        case platform::esriSpatialRelWithin: return query <= target;
        case platform::esriSpatialRelContains: return query >= target;
        default: return true;
    }
}

}  // namespace

const char* RelationName(platform::esriSpatialRelEnum relation) {
    switch (relation) {
        case platform::esriSpatialRelUndefined: return "esriSpatialRelUndefined";
        case platform::esriSpatialRelIntersects: return "esriSpatialRelIntersects";
        case platform::esriSpatialRelEnvelopeIntersects: return "esriSpatialRelEnvelopeIntersects";
        case platform::esriSpatialRelIndexIntersects: return "esriSpatialRelIndexIntersects";
        case platform::esriSpatialRelTouches: return "esriSpatialRelTouches";
        case platform::esriSpatialRelOverlaps: return "esriSpatialRelOverlaps";
        case platform::esriSpatialRelCrosses: return "esriSpatialRelCrosses";
        case platform::esriSpatialRelWithin: return "esriSpatialRelWithin";
        case platform::esriSpatialRelContains: return "esriSpatialRelContains";
        case platform::esriSpatialRelRelation: return "esriSpatialRelRelation";
    }
    return "unknown relation";
}

void RequireSupportedRelation(platform::esriSpatialRelEnum relation) {
    switch (relation) {
        case platform::esriSpatialRelIntersects:
        case platform::esriSpatialRelEnvelopeIntersects:
        case platform::esriSpatialRelTouches:
        case platform::esriSpatialRelOverlaps:
        case platform::esriSpatialRelCrosses:
        case platform::esriSpatialRelWithin:
        case platform::esriSpatialRelContains:
            return;
        default:
            throw platform::Error(platform::kInvalidArg, "The spatial relation " + std::to_string(relation) + " (" +
                                                             RelationName(relation) + ") is not supported");
    }
}

bool RelationCanHold(platform::esriSpatialRelEnum relation, ShapeDimension query, ShapeDimension target) {
    if (query == ShapeDimension::Mixed || target == ShapeDimension::Mixed) return true;
    return CanHold(relation, static_cast<int>(query), static_cast<int>(target));
}

void RequireRelationCanHold(platform::esriSpatialRelEnum relation, ShapeDimension query_dimension,
                            ShapeDimension target_dimension, const std::string& target) {
    if (RelationCanHold(relation, query_dimension, target_dimension)) return;
    throw platform::Error(platform::kInvalidArg, std::string(RelationName(relation)) + " can never hold between a " +
                                                     ShapeTypeName(query_dimension) + " query shape and the " +
                                                     ShapeTypeName(target_dimension) + " features of " + target);
}

void RequireShapeField(const std::string& field, const std::string& shape_field, const std::string& table) {
    if (AsciiEqualIgnoringCase(field, shape_field)) return;
    throw platform::Error(platform::kInvalidArg, "The spatial filter's geometry field '" + field +
                                                     "' is not the shape field '" + shape_field + "' of " + table);
}

ShapeDimension DimensionOf(const geos::geom::Geometry& geometry) {
    using geos::geom::GeometryTypeId;
    switch (geometry.getGeometryTypeId()) {
        case GeometryTypeId::GEOS_POINT:
        case GeometryTypeId::GEOS_MULTIPOINT: return ShapeDimension::Point;
        case GeometryTypeId::GEOS_LINESTRING:
        case GeometryTypeId::GEOS_LINEARRING:
        case GeometryTypeId::GEOS_MULTILINESTRING: return ShapeDimension::Line;
        case GeometryTypeId::GEOS_POLYGON:
        case GeometryTypeId::GEOS_MULTIPOLYGON: return ShapeDimension::Area;
        default: return ShapeDimension::Mixed;
    }
}

}  // namespace selvane::gis
