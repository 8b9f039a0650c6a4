#pragma once

#include <array>
#include <memory>
#include <optional>
#include <span>

#include <geos/algorithm/locate/PointOnGeometryLocator.h>

#include "gis/geometry/geos_include.h"
#include "gis/geometry/shape.h"
#include "gis/support/lazy.h"
#include "platform/arcobjects.h"

namespace selvane::gis {

/// From this many vertices on, an area query takes the shortcuts below; a smaller one is
/// answered by GEOS alone: the indexes the shortcuts build cost more than the relates they
/// save on a handful of candidates.
inline constexpr std::size_t kLargeAreaVertices = 64;

/// Up to this many vertices, a strictly convex query polygon tells where a point lies by the
/// point's side of each edge, without the segment index GEOS's locator builds.
inline constexpr std::size_t kConvexTestVertices = 16;

/// Whether `shape` is a polygon or multipolygon of kLargeAreaVertices or more.
bool IsLargeArea(const geos::geom::Geometry& shape);

/// The box `shape` is when it is an axis-parallel rectangle of positive width and height (a
/// polygon without holes whose ring goes once round its envelope's four corners); nullopt
/// otherwise. Such a polygon is the closed box itself, and valid.
std::optional<geos::geom::Envelope> RectangleBox(const geos::geom::Geometry& shape);

/// A query shape made ready to be related to many candidates: GEOS's prepared geometry,
/// and for a large area the index of its boundary's segments. The relations are decided
/// by the cheapest test that decides them exactly, and by GEOS's full relate only where
/// nothing cheaper does; the reason for each shortcut stands beside it.
///
/// GEOS builds a prepared geometry's indexes on first use: one PreparedQuery per thread.
class PreparedQuery {
public:
    /// `known_valid`: the shape has passed its class's validity check. Otherwise the
    /// shortcuts that hold only for valid shapes check it themselves on first need.
    /// `known_strictly_convex`: its class found it IsStrictlyConvexPolygon when checking it.
    PreparedQuery(const geos::geom::Geometry& query, bool known_valid, bool known_strictly_convex = false);
    ~PreparedQuery();
    PreparedQuery(const PreparedQuery&) = delete;
    PreparedQuery& operator=(const PreparedQuery&) = delete;

    /// Whether `relation` holds with the query shape as first operand, exactly as GEOS's
    /// relate of the two shapes says. For esriSpatialRelEnvelopeIntersects the envelopes
    /// are compared. GEOS failures propagate.
    bool Holds(platform::esriSpatialRelEnum relation, const geos::geom::Geometry& target) const;
    /// Holds for a target that is the single point `target`, without a GEOS point where the
    /// relation does not need one.
    bool HoldsAtPoint(platform::esriSpatialRelEnum relation, const PlainPoint& target) const;
    /// Holds for a target that is the axis-parallel rectangle `target` (see RectangleBox),
    /// when the query is one too, or a large area whose boundary keeps away from it;
    /// nullopt when only the shapes can tell.
    std::optional<bool> HoldsAtRectangle(platform::esriSpatialRelEnum relation, const geos::geom::Envelope& target) const;

    /// Holds for CROSS of a target line string whose vertices are `line`, where the
    /// vertices alone decide it; nullopt where only the shapes can tell.
    std::optional<bool> CrossesAtVertices(std::span<const geos::geom::Coordinate> line) const;

private:
    class Boundary;
    /// How a line meets the query's boundary: not at all; somewhere, in a way only a relate
    /// tells; or crossing one of its segments at a point inside both that no other part of
    /// the boundary passes through.
    enum class LineMeeting { Apart, Touches, CrossesProperly };

    bool Touches(const geos::geom::Geometry& target) const;
    bool Overlaps(const geos::geom::Geometry& target) const;
    bool Crosses(const geos::geom::Geometry& target) const;
    bool Within(const geos::geom::Geometry& target) const;
    /// HoldsAtRectangle for a large query area, where its boundary keeps away from the box.
    std::optional<bool> HoldsAtRectangleInLargeArea(platform::esriSpatialRelEnum relation,
                                                    const geos::geom::Envelope& target) const;
    /// Whether the query is a valid area, or a large one (IsLargeArea), for the shortcuts
    /// that rest on the facts of valid areas.
    bool ValidArea() const;
    bool LargeValidArea() const;
    /// Whether the query is a valid polygon without holes whose ring never turns both ways:
    /// a convex area, which holds every segment between two of its points.
    bool ConvexArea() const;
    /// IsStrictlyConvexPolygon of the query, worked out once.
    bool StrictlyConvex() const;
    /// Where `at` lies in the query area, as its point locator says: worked out from the
    /// sides of the edges for a query that IsStrictlyConvexPolygon with at most
    /// kConvexTestVertices vertices, by the locator for any other.
    geos::geom::Location LocateInArea(const geos::geom::Coordinate& at) const;
    /// CROSS of a line decided by where its vertices lie, where that decides it:
    /// `for_each_vertex(visit)` calls `visit(vertex)` for each vertex while it returns true.
    template <typename ForEachVertex>
    std::optional<bool> CrossesByVertexLocations(ForEachVertex&& for_each_vertex) const;
    /// The index of the query's boundary segments, built on first need.
    const Boundary& BoundaryIndex() const;
    /// Whether the query's boundary meets the interior of `target`, a valid polygon.
    bool BoundaryMeetsInterior(const geos::geom::Geometry& target) const;
    /// How the line `target` meets the query's boundary.
    LineMeeting MeetBoundary(const geos::geom::Geometry& target) const;

    /// GEOS's prepared geometry of the query, made on first need: a small convex query
    /// whose candidates are all points never needs one.
    const geos::geom::prep::PreparedGeometry& Prepared() const;
    /// An area's point locator, the one the prepared geometry's intersects asks for points.
    geos::algorithm::locate::PointOnGeometryLocator& AreaLocator() const;

    /// A small strictly convex query's vertices (the first repeated last) and the way its
    /// ring turns; 0 vertices when the query is not one.
    struct SmallConvexRing {
        std::size_t vertices = 0;
        int turn = 0;
        std::array<geos::geom::Coordinate, kConvexTestVertices + 1> ring;
    };
    SmallConvexRing MakeSmallConvexRing() const;

    const geos::geom::Geometry& m_query;
    const bool m_area = false;  // a polygon or multipolygon, which GEOS prepares as a PreparedPolygon
    const bool m_large_area = false;
    const bool m_single_point = false;
    const std::optional<geos::geom::Envelope> m_box;  // the query is this rectangle
    // Worked out on first need: many queries never ask.
    Lazy<std::unique_ptr<geos::geom::prep::PreparedGeometry>> m_prepared;
    Lazy<geos::algorithm::locate::PointOnGeometryLocator*> m_area_locator;
    Lazy<bool> m_valid;
    Lazy<bool> m_convex;
    Lazy<bool> m_strictly_convex;
    Lazy<std::unique_ptr<Boundary>> m_boundary;
    Lazy<SmallConvexRing> m_small_convex;
};

// A line with a vertex in I(Q) and one in E(Q), both open: the line's interior points next
// to each lie there too, so II and EI are not empty. A line whose vertices all lie in a
// convex Q lies wholly in it: EI is empty.
template <typename ForEachVertex>
std::optional<bool> PreparedQuery::CrossesByVertexLocations(ForEachVertex&& for_each_vertex) const {
    bool inside = false, outside = false;
    for_each_vertex([&](const geos::geom::Coordinate& vertex) {
        const auto location = LocateInArea(vertex);
        inside = inside || location == geos::geom::Location::INTERIOR;
        outside = outside || location == geos::geom::Location::EXTERIOR;
        return !(inside && outside);
    });
    if (inside && outside) return true;
    if (!outside && ConvexArea()) return false;
    return std::nullopt;
}

}  // namespace selvane::gis
