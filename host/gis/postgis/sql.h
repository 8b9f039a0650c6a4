#pragma once

// The SQL that PostGIS classes write: identifiers, relations, validity, query shapes.

#include <cstdint>
#include <string>

#include "gis/geometry/geos_include.h"
#include "gis/geometry/shape.h"
#include "gis/support/sql_identifier.h"
#include "platform/arcobjects.h"

namespace selvane::gis {

/// The relation in SQL, with the query shape first as the spatial filter has it. The
/// envelope comparison is exact: the index's `&&` compares boxes rounded outwards.
/// `large_area` is SQL telling whether the query shape is a large area ("true", "false" or
/// an expression): the candidates inside its interior, which it neither touches, overlaps
/// nor crosses, are then ruled out by the server's prepared ST_ContainsProperly, cached
/// across rows, before a full relate.
std::string PgRelationSql(platform::esriSpatialRelEnum relation, const std::string& query, const std::string& target,
                          const std::string& large_area = "false");

/// SQL telling whether the shape `shape` is a large area, as IsLargeArea tells.
std::string PgIsLargeArea(const std::string& shape);

/// ", the reason the found shape `target` is not valid (NULL when it is)", where the
/// relation's answer rests on validity; empty for envelopes and points.
std::string PgValidityColumn(platform::esriSpatialRelEnum relation, ShapeDimension dimension, const std::string& target);

/// The shape as PostGIS's binary form of a geometry: extended WKB, the SRID in the header.
std::string ExtendedWkb(const geos::geom::Geometry& geometry, std::int32_t srid);

}  // namespace selvane::gis
