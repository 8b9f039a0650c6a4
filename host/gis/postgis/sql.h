#pragma once

// The SQL that PostGIS classes write: identifiers, relations, validity, query shapes.

#include <cstdint>
#include <string>

#include "gis/common/geos_include.h"
#include "gis/common/shape.h"
#include "gis/common/sql_identifier.h"
#include "platform/arcobjects.h"

namespace selvane::gis {

/// The relation in SQL, with the query shape first as the spatial filter has it. The
/// envelope comparison is exact: the index's `&&` compares boxes rounded outwards.
std::string PgRelationSql(platform::esriSpatialRelEnum relation, const std::string& query, const std::string& target);

/// ", the reason the found shape `target` is not valid (NULL when it is)", where the
/// relation's answer rests on validity; empty for envelopes and points.
std::string PgValidityColumn(platform::esriSpatialRelEnum relation, ShapeDimension dimension, const std::string& target);

/// The shape as PostGIS's binary form of a geometry: extended WKB, the SRID in the header.
std::string ExtendedWkb(const geos::geom::Geometry& geometry, std::int32_t srid);

}  // namespace selvane::gis
