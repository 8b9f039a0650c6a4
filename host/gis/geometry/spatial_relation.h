#pragma once

#include <string>

#include "gis/geometry/geos_include.h"
#include "gis/geometry/shape.h"

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
                            ShapeDimension target_dimension, const std::string& target);

/// Throws platform::Error unless the spatial filter names `shape_field` (in any case) of
/// the table `table`.
void RequireShapeField(const std::string& field, const std::string& shape_field, const std::string& table);

/// Whether the relation can hold between shapes of these dimensions; true when either is Mixed.
bool RelationCanHold(platform::esriSpatialRelEnum relation, ShapeDimension query, ShapeDimension target);

/// The dimension of a query geometry; Mixed for a heterogeneous collection.
ShapeDimension DimensionOf(const geos::geom::Geometry& geometry);

/// What a spatial search asks: the relation, and the query shape (kept alive by `owner`);
/// `shape` is null when the search matches nothing.
struct SpatialQuery {
    platform::esriSpatialRelEnum relation = platform::esriSpatialRelUndefined;
    std::shared_ptr<platform::IGeometry> owner;
    const Shape* shape = nullptr;
};

/// Reads a spatial filter as every feature class's search does. Throws platform::Error for
/// another shape field than `shape_field` of `table`, a relation the search does not
/// evaluate, a query shape that is not of this map, and a relation that can never hold
/// between the query's declared shape type and `target` (`culprit()` names the class).
template <typename Culprit>
SpatialQuery ReadSpatialFilter(platform::ISpatialFilter& filter, const std::string& shape_field,
                               const std::string& table, ShapeDimension target, Culprit&& culprit) {
    RequireShapeField(filter.GeometryField(), shape_field, table);
    SpatialQuery query;
    query.relation = filter.SpatialRel();
    RequireSupportedRelation(query.relation);
    query.owner = filter.Geometry();
    const auto* shape = dynamic_cast<const Shape*>(query.owner.get());
    if (query.owner && !shape) throw platform::Error(platform::kInvalidArg, "The query shape is not a shape of this map");
    // A null or empty query shape matches nothing.
    if (!shape || shape->IsEmpty()) return query;
    // The gate is the layers' business: decided from the declared shape types of the query
    // shape's class and the target's, so that it never depends on which row comes first. A
    // class of mixed or unknown type never gates; a single shape of a type that cannot
    // stand in the relation simply matches nothing.
    const auto* source = shape->Origin();
    const auto declared =
        source ? source->Dimension() : shape->ClassDimension().value_or(DimensionOf(*shape->Geometry()));
    if (!RelationCanHold(query.relation, declared, target)) {
        RequireRelationCanHold(query.relation, declared, target, culprit());
    }
    if (RelationCanHold(query.relation, DimensionOf(*shape->Geometry()), target)) query.shape = shape;
    return query;
}

}  // namespace selvane::gis
