#include "gis/postgis/sql.h"

#include <sstream>

#include "gis/geometry/prepared_query.h"

namespace selvane::gis {

std::string PgRelationSql(platform::esriSpatialRelEnum relation, const std::string& query, const std::string& target,
                          const std::string& large_area) {
    const auto call = [&](const char* function) { return std::string(function) + "(" + query + ", " + target + ")"; };
    // What the query's interior holds it neither touches, overlaps nor crosses; the
    // reasons stand beside PreparedQuery's shortcuts.
    const auto outside_interior = [&](const char* function) {
        if (large_area == "false") return call(function);
        const std::string inside = call("ST_ContainsProperly");
        return (large_area == "true" ? "NOT " + inside : "(NOT " + large_area + " OR NOT " + inside + ")") + " AND " +
               call(function);
    };
    switch (relation) {
        case platform::esriSpatialRelIntersects: return call("ST_Intersects");
        case platform::esriSpatialRelEnvelopeIntersects:
            return "ST_XMin(" + target + ") <= ST_XMax(" + query + ") AND ST_XMax(" + target + ") >= ST_XMin(" + query +
                   ") AND ST_YMin(" + target + ") <= ST_YMax(" + query + ") AND ST_YMax(" + target +
                   ") >= ST_YMin(" + query + ")";
        case platform::esriSpatialRelTouches: return outside_interior("ST_Touches");
        case platform::esriSpatialRelOverlaps: return outside_interior("ST_Overlaps");
        case platform::esriSpatialRelCrosses: return outside_interior("ST_Crosses");
        case platform::esriSpatialRelWithin: return call("ST_Within");
        case platform::esriSpatialRelContains: return call("ST_Contains");
        default: return "false";
    }
}

std::string PgIsLargeArea(const std::string& shape) {
    return "(ST_Dimension(" + shape + ") = 2 AND ST_NPoints(" + shape + ") >= " + std::to_string(kLargeAreaVertices) + ")";
}

std::string ExtendedWkb(const geos::geom::Geometry& geometry, std::int32_t srid) {
    geos::io::WKBWriter writer;
    std::ostringstream stream;
    writer.write(geometry, stream);
    std::string bytes = stream.str();
    if (bytes.size() < 5) return bytes;
    const bool little_endian = bytes[0] == 1;
    const auto put = [&](std::size_t at, std::uint32_t value) {
        for (int i = 0; i < 4; ++i) {
            const int shift = little_endian ? 8 * i : 8 * (3 - i);
            bytes[at + static_cast<std::size_t>(i)] = static_cast<char>((value >> shift) & 0xFF);
        }
    };
    std::uint32_t type = 0;
    for (int i = 0; i < 4; ++i) {
        const auto byte = static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[1 + static_cast<std::size_t>(i)]));
        type |= little_endian ? byte << (8 * i) : byte << (8 * (3 - i));
    }
    bytes.insert(5, 4, '\0');
    put(1, type | 0x20000000u);  // the flag of a header with an SRID
    put(5, static_cast<std::uint32_t>(srid));
    return bytes;
}


std::string PgValidityColumn(platform::esriSpatialRelEnum relation, ShapeDimension dimension, const std::string& target) {
    // A point's only fault is a coordinate that is not a finite number, which the class
    // looks for before its first search; other shapes found are checked, so that an answer
    // never rests on an invalid one.
    if (relation == platform::esriSpatialRelEnvelopeIntersects || dimension == ShapeDimension::Point) return {};
    return ", CASE WHEN ST_IsValid(" + target + ") THEN NULL ELSE ST_IsValidReason(" + target + ") END";
}

}  // namespace selvane::gis
