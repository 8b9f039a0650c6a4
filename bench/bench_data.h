#pragma once

// Generated benchmark data: query polygons and targets (points, lines, grid cells) over one
// square extent, from fixed seeds, so that every program measures the same shapes.

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#ifndef USE_UNSTABLE_GEOS_CPP_API
#define USE_UNSTABLE_GEOS_CPP_API
#endif
#include <geos/geom/Geometry.h>
#include <geos/geom/GeometryFactory.h>

namespace selvane::bench {

struct BenchShapes {
    std::vector<std::unique_ptr<geos::geom::Geometry>> queries;  ///< octagons or grid squares
    std::vector<std::unique_ptr<geos::geom::Geometry>> targets;
};

/// Cells: a grid of squares; ShiftedCells: the same grid under queries moved half a cell
/// off it, so that areas overlap instead of sharing edges.
enum class TargetKind { Points, Lines, Cells, ShiftedCells };

/// From this many targets a query on, queries are districts: irregular polygons of a few
/// thousand vertices that follow the grid cells' edges.
constexpr std::size_t kDistrictTargets = 1000;

/// `query_count` query polygons and `target_count` targets of `kind`. Queries hold about
/// `per_query` targets each (ten by default; the "few large queries" case asks for many).
/// For Cells the ordinary queries are grid squares that share edges with cells.
BenchShapes MakeShapes(std::size_t query_count, std::size_t target_count, TargetKind kind,
                       std::size_t per_query = 10);

/// Writes the shapes into a GeoPackage as tables "queries" and "targets" (FIDs from 1).
void WriteGeoPackage(const std::string& path, const BenchShapes& shapes, TargetKind kind);

/// What a bare GEOS program does: an STRtree of `targets`, each query prepared, and
/// `relation` ("intersects", "crosses", "touches", "overlaps") asked of each candidate. The
/// target rows (from 0) that hold, a row once a query, in query order.
std::vector<std::size_t> BareGeosHits(const std::vector<std::unique_ptr<geos::geom::Geometry>>& queries,
                                      const std::vector<std::unique_ptr<geos::geom::Geometry>>& targets,
                                      const std::string& relation);

/// The process's peak resident memory so far, in MiB.
double PeakMemoryMiB();

const geos::geom::GeometryFactory& Factory();

}  // namespace selvane::bench
