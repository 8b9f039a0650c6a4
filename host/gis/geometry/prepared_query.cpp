#include "gis/geometry/prepared_query.h"

#include <geos/algorithm/InteriorPointArea.h>
#include <geos/algorithm/LineIntersector.h>
#include <geos/algorithm/Orientation.h>
#include <geos/algorithm/locate/PointOnGeometryLocator.h>
#include <geos/algorithm/locate/SimplePointInAreaLocator.h>
#include <geos/geom/CoordinateArraySequence.h>
#include <geos/geom/IntersectionMatrix.h>
#include <geos/geom/LineString.h>
#include <geos/geom/MultiLineString.h>
#include <geos/geom/Polygon.h>
#include <geos/geom/prep/PreparedPolygon.h>
#include <geos/operation/valid/IsValidOp.h>

#include <cmath>
#include <vector>

#include "gis/geometry/convex_polygon.h"
#include "gis/geometry/shape_kinds.h"

// The shortcuts below are read off the DE-9IM definitions GEOS uses, with Q the query
// shape (first operand), T the candidate, and I, B, E their interiors, boundaries and
// exteriors. Facts about valid shapes they rest on:
//   (a) a valid area is the closure of its interior: every neighbourhood of a point of
//       B(Q) holds points of I(Q) and of E(Q);
//   (b) the interior of a valid polygon is connected;
//   (c) the interior of a non-empty shape is not empty.
// Candidates reach these tests only after their class has found them valid.

namespace selvane::gis {
namespace {

using geos::geom::Geometry;
using geos::geom::GeometryTypeId;
using geos::geom::Location;

}  // namespace

// The segments of a large area's rings, indexed by envelope, so that the part of its
// boundary near a candidate is found without walking the whole of it.
class PreparedQuery::Boundary {
public:
    explicit Boundary(const Geometry& area) {
        for (std::size_t part = 0; part < area.getNumGeometries(); ++part) {
            const auto& polygon = static_cast<const geos::geom::Polygon&>(*area.getGeometryN(part));
            AddRing(*polygon.getExteriorRing());
            for (std::size_t hole = 0; hole < polygon.getNumInteriorRing(); ++hole) AddRing(*polygon.getInteriorRingN(hole));
        }
        m_index = std::make_unique<geos::index::strtree::TemplateSTRtree<std::size_t>>(10, m_segments.size());
        for (std::size_t segment = 0; segment < m_segments.size(); ++segment) {
            m_index->insert(geos::geom::Envelope(m_segments[segment].first, m_segments[segment].second), segment);
        }
        m_index->build();
    }

    /// The boundary's segments whose envelopes meet `envelope`, each a line of its own, with
    /// the ring's own coordinates; nullptr when there are none.
    std::unique_ptr<Geometry> Near(const geos::geom::Envelope& envelope, const geos::geom::GeometryFactory& factory) const {
        std::vector<std::unique_ptr<geos::geom::LineString>> lines;
        m_index->query(envelope, [&](std::size_t segment) {
            auto points = std::make_unique<geos::geom::CoordinateArraySequence>(2u);
            points->setAt(m_segments[segment].first, 0);
            points->setAt(m_segments[segment].second, 1);
            lines.push_back(factory.createLineString(std::move(points)));
        });
        if (lines.empty()) return nullptr;
        return factory.createMultiLineString(std::move(lines));
    }

    /// How the line `line` meets the boundary, told by exact orientation tests alone.
    LineMeeting Meet(const geos::geom::LineString& line) const {
        const auto* points = line.getCoordinatesRO();
        return Meet(*line.getEnvelopeInternal(), points->size(),
                    [points](std::size_t index) -> const geos::geom::Coordinate& { return points->getAt(index); });
    }
    /// The same for the line through `points`.
    LineMeeting Meet(std::span<const geos::geom::Coordinate> points) const {
        geos::geom::Envelope envelope;
        for (const auto& point : points) envelope.expandToInclude(point);
        return Meet(envelope, points.size(),
                    [points](std::size_t index) -> const geos::geom::Coordinate& { return points[index]; });
    }

    /// Whether the boundary meets the closed box `box`: a segment with an end in it, or
    /// meeting one of its edges (exact orientation tests).
    bool MeetsBox(const geos::geom::Envelope& box) const {
        const geos::geom::Coordinate corners[] = {{box.getMinX(), box.getMinY()}, {box.getMaxX(), box.getMinY()},
                                                   {box.getMaxX(), box.getMaxY()}, {box.getMinX(), box.getMaxY()}};
        bool meets = false;
        geos::algorithm::LineIntersector intersector;
        m_index->query(box, [&](std::size_t segment) {
            if (meets) return;
            const auto& [a, b] = m_segments[segment];
            if (box.covers(a.x, a.y) || box.covers(b.x, b.y)) {
                meets = true;
                return;
            }
            for (int edge = 0; edge < 4 && !meets; ++edge) {
                intersector.computeIntersection(a, b, corners[edge], corners[(edge + 1) % 4]);
                meets = intersector.hasIntersection();
            }
        });
        return meets;
    }

private:
    template <typename PointAt>
    LineMeeting Meet(const geos::geom::Envelope& envelope, std::size_t count, PointAt&& point_at) const {
        m_near.clear();
        m_index->query(envelope, [&](std::size_t segment) { m_near.push_back(segment); });
        bool met = false;
        geos::algorithm::LineIntersector intersector;
        for (std::size_t i = 1; i < count; ++i) {
            const auto& a = point_at(i - 1);
            const auto& b = point_at(i);
            for (const auto segment : m_near) {
                intersector.computeIntersection(a, b, m_segments[segment].first, m_segments[segment].second);
                if (!intersector.hasIntersection()) continue;
                met = true;
                if (intersector.isProper() && Alone(segment)) return LineMeeting::CrossesProperly;
            }
        }
        return met ? LineMeeting::Touches : LineMeeting::Apart;
    }

    void AddRing(const geos::geom::LineString& ring) {
        const auto* points = ring.getCoordinatesRO();
        for (std::size_t i = 1; i < points->size(); ++i) m_segments.emplace_back(points->getAt(i - 1), points->getAt(i));
    }

    // Whether no other nearby segment meets the segment's interior: a point inside it is
    // then on no other ring's part.
    bool Alone(std::size_t segment) const {
        geos::algorithm::LineIntersector intersector;
        const auto& [c, d] = m_segments[segment];
        for (const auto other : m_near) {
            if (other == segment) continue;
            intersector.computeIntersection(c, d, m_segments[other].first, m_segments[other].second);
            if (intersector.hasIntersection() && intersector.isInteriorIntersection(0)) return false;
        }
        return true;
    }

    std::vector<std::pair<geos::geom::Coordinate, geos::geom::Coordinate>> m_segments;
    std::unique_ptr<geos::index::strtree::TemplateSTRtree<std::size_t>> m_index;
    mutable std::vector<std::size_t> m_near;
};

bool IsLargeArea(const Geometry& shape) { return IsArea(shape) && shape.getNumPoints() >= kLargeAreaVertices; }

PreparedQuery::PreparedQuery(const Geometry& query, bool known_valid, bool known_strictly_convex)
    : m_query(query),
      m_area(IsArea(query)),
      m_large_area(IsLargeArea(query)),
      m_single_point(query.getGeometryTypeId() == GeometryTypeId::GEOS_POINT),
      m_box(RectangleBox(query)),
      m_valid(known_valid ? Lazy<bool>(true) : Lazy<bool>()),
      m_strictly_convex(known_strictly_convex ? Lazy<bool>(true) : Lazy<bool>()) {}

PreparedQuery::~PreparedQuery() = default;

const geos::geom::prep::PreparedGeometry& PreparedQuery::Prepared() const {
    return *m_prepared.Get([this] { return geos::geom::prep::PreparedGeometryFactory::prepare(&m_query); });
}

geos::algorithm::locate::PointOnGeometryLocator& PreparedQuery::AreaLocator() const {
    return *m_area_locator.Get(
        [this] { return static_cast<const geos::geom::prep::PreparedPolygon&>(Prepared()).getPointLocator(); });
}

bool PreparedQuery::ValidArea() const {
    return m_area &&
           m_valid.Get([this] { return StrictlyConvex() || geos::operation::valid::IsValidOp(&m_query).isValid(); });
}

bool PreparedQuery::LargeValidArea() const { return m_large_area && ValidArea(); }

bool PreparedQuery::StrictlyConvex() const {
    return m_strictly_convex.Get([this] { return IsStrictlyConvexPolygon(m_query); });
}

bool PreparedQuery::ConvexArea() const {
    return m_convex.Get([this] {
        if (m_box || StrictlyConvex()) return true;
        if (m_query.getGeometryTypeId() != GeometryTypeId::GEOS_POLYGON || !ValidArea()) return false;
        const auto& polygon = static_cast<const geos::geom::Polygon&>(m_query);
        const auto* ring = polygon.getExteriorRing()->getCoordinatesRO();
        // A valid ring is simple: turning one way only (or going straight on), it goes
        // once round a convex area. Orientation::index is exact.
        bool left = false, right = false;
        const std::size_t vertices = ring->size() - 1;  // the last repeats the first
        for (std::size_t index = 0; index < vertices; ++index) {
            const int turn = geos::algorithm::Orientation::index(
                ring->getAt(index), ring->getAt((index + 1) % vertices), ring->getAt((index + 2) % vertices));
            left = left || turn == geos::algorithm::Orientation::COUNTERCLOCKWISE;
            right = right || turn == geos::algorithm::Orientation::CLOCKWISE;
        }
        return polygon.getNumInteriorRing() == 0 && !(left && right);
    });
}

PreparedQuery::SmallConvexRing PreparedQuery::MakeSmallConvexRing() const {
    SmallConvexRing convex;
    if (m_query.getNumPoints() <= kConvexTestVertices + 1 && StrictlyConvex()) {
        const auto* ring = static_cast<const geos::geom::Polygon&>(m_query).getExteriorRing()->getCoordinatesRO();
        const std::size_t size = ring->size();
        for (std::size_t index = 0; index < size; ++index) convex.ring[index] = ring->getAt(index);
        convex.turn = geos::algorithm::Orientation::index(convex.ring[0], convex.ring[1], convex.ring[2]);
        convex.vertices = size - 1;
    }
    return convex;
}

// A strictly convex area is the meet of the closed half-planes on the inner side of its
// edges: a point is outside it exactly when some edge has it strictly on the outer side,
// and otherwise on its boundary exactly when it lies on an edge's line (the area meets
// that line in the edge alone). Orientation::index is exact, as the ray crossings of
// GEOS's locator are, so the two always agree; this test only skips building the
// locator's index of segments, which a query of a few vertices and a dozen candidates
// pays for many times over.
Location PreparedQuery::LocateInArea(const geos::geom::Coordinate& at) const {
    const auto& convex = m_small_convex.Get([this] { return MakeSmallConvexRing(); });
    // A coordinate that is not a finite number goes to the locator, which refuses it.
    if (convex.vertices == 0 || !std::isfinite(at.x) || !std::isfinite(at.y)) return AreaLocator().locate(&at);
    bool on_a_line = false;
    for (std::size_t index = 0; index < convex.vertices; ++index) {
        const int side = ExactSide(convex.ring[index], convex.ring[index + 1], at);
        if (side == -convex.turn) return Location::EXTERIOR;
        on_a_line = on_a_line || side == 0;
    }
    return on_a_line ? Location::BOUNDARY : Location::INTERIOR;
}

std::optional<bool> PreparedQuery::CrossesAtVertices(std::span<const geos::geom::Coordinate> line) const {
    if (!m_area || !ValidArea()) return std::nullopt;
    const auto by_locations = CrossesByVertexLocations([line](auto&& visit) {
        for (const auto& vertex : line) {
            if (!visit(vertex)) return;
        }
    });
    if (by_locations) return by_locations;
    // A large area: how the line meets its boundary, as for a GEOS line (Crosses).
    if (LargeValidArea()) {
        switch (BoundaryIndex().Meet(line)) {
            // Connected and away from B(Q): wholly in I(Q) (EI empty) or in E(Q) (II empty).
            case LineMeeting::Apart: return false;
            case LineMeeting::CrossesProperly: return true;
            case LineMeeting::Touches: break;
        }
    }
    return std::nullopt;
}

const PreparedQuery::Boundary& PreparedQuery::BoundaryIndex() const {
    return *m_boundary.Get([this] { return std::make_unique<Boundary>(m_query); });
}

bool PreparedQuery::BoundaryMeetsInterior(const Geometry& target) const {
    // I(T) lies inside T's envelope: only the boundary's segments there can meet it.
    const auto near = BoundaryIndex().Near(*target.getEnvelopeInternal(), *m_query.getFactory());
    if (!near) return false;
    // The segments, as lines, are the same point set as that part of B(Q); each point of
    // them is in the lines' interior or boundary.
    const auto matrix = near->relate(&target);
    return matrix->get(Location::INTERIOR, Location::INTERIOR) != geos::geom::Dimension::False ||
           matrix->get(Location::BOUNDARY, Location::INTERIOR) != geos::geom::Dimension::False;
}

PreparedQuery::LineMeeting PreparedQuery::MeetBoundary(const Geometry& target) const {
    return BoundaryIndex().Meet(static_cast<const geos::geom::LineString&>(target));
}

bool PreparedQuery::Holds(platform::esriSpatialRelEnum relation, const Geometry& target) const {
    switch (relation) {
        case platform::esriSpatialRelIntersects: return Prepared().intersects(&target);
        case platform::esriSpatialRelEnvelopeIntersects:
            return m_query.getEnvelopeInternal()->intersects(target.getEnvelopeInternal());
        case platform::esriSpatialRelTouches: return Touches(target);
        case platform::esriSpatialRelOverlaps: return Overlaps(target);
        case platform::esriSpatialRelCrosses: return Crosses(target);
        case platform::esriSpatialRelWithin: return Within(target);
        // GEOS's prepared contains decides without a relate unless the candidate meets B(Q).
        case platform::esriSpatialRelContains: return Prepared().contains(&target);
        default: return false;
    }
}

bool PreparedQuery::HoldsAtPoint(platform::esriSpatialRelEnum relation, const PlainPoint& target) const {
    const geos::geom::Coordinate at(target.x, target.y);
    if (relation == platform::esriSpatialRelEnvelopeIntersects) return m_query.getEnvelopeInternal()->intersects(at);
    // A point meets an area exactly when it is not in the area's exterior: the test GEOS's
    // prepared intersects makes of a point, with the same locator, after the same envelope
    // test (a rectangle's own test says the same: its closure holds the point).
    if (relation == platform::esriSpatialRelIntersects && m_area) {
        return m_query.getEnvelopeInternal()->intersects(at) && LocateInArea(at) != Location::EXTERIOR;
    }
    const std::unique_ptr<Geometry> point(Shape::Factory().createPoint(at));
    return Holds(relation, *point);
}

std::optional<bool> PreparedQuery::HoldsAtRectangle(platform::esriSpatialRelEnum relation,
                                                    const geos::geom::Envelope& target) const {
    if (!m_box) return HoldsAtRectangleInLargeArea(relation, target);
    // Two closed boxes with interiors: comparisons alone, so exact. They meet when their
    // closed extents do in both axes, their interiors when the open extents do.
    const auto& query = *m_box;
    switch (relation) {
        case platform::esriSpatialRelIntersects:
        case platform::esriSpatialRelEnvelopeIntersects: return query.intersects(target);
        case platform::esriSpatialRelTouches: return query.intersects(target) && !OpenBoxesMeet(query, target);
        // IE is not empty exactly when Q is not inside T (Q, the closure of its interior,
        // then has interior points in the open E(T)), and EI likewise.
        case platform::esriSpatialRelOverlaps:
            return OpenBoxesMeet(query, target) && !target.covers(query) && !query.covers(target);
        // Q inside T: then I(Q), not empty, lies in I(T) near every point but T's boundary,
        // so the interiors meet.
        case platform::esriSpatialRelWithin: return target.covers(query);
        case platform::esriSpatialRelContains: return query.covers(target);
        // Areas never cross.
        case platform::esriSpatialRelCrosses: return false;
        default: return std::nullopt;
    }
}

std::optional<bool> PreparedQuery::HoldsAtRectangleInLargeArea(platform::esriSpatialRelEnum relation,
                                                               const geos::geom::Envelope& target) const {
    if (!m_area || !LargeValidArea() || BoundaryIndex().MeetsBox(target)) return std::nullopt;
    // B(Q) away from T: T, connected, lies wholly in I(Q) or wholly in E(Q), and one of
    // its corners tells which. Wholly in I(Q): the interiors meet (no TOUCH), EI is empty
    // (no OVERLAP), Q contains T. Wholly in E(Q): they do not meet. Either way B(Q), not
    // empty, is outside T, so Q is not within T; and areas never cross.
    const geos::geom::Coordinate corner(target.getMinX(), target.getMinY());
    const bool inside = AreaLocator().locate(&corner) == Location::INTERIOR;
    switch (relation) {
        case platform::esriSpatialRelIntersects:
        case platform::esriSpatialRelContains: return inside;
        case platform::esriSpatialRelTouches:
        case platform::esriSpatialRelOverlaps:
        case platform::esriSpatialRelCrosses:
        case platform::esriSpatialRelWithin: return false;
        default: return std::nullopt;
    }
}

std::optional<geos::geom::Envelope> RectangleBox(const Geometry& shape) {
    if (shape.getGeometryTypeId() != GeometryTypeId::GEOS_POLYGON) return std::nullopt;
    const auto& polygon = static_cast<const geos::geom::Polygon&>(shape);
    if (polygon.getNumInteriorRing() != 0) return std::nullopt;
    const auto* ring = polygon.getExteriorRing()->getCoordinatesRO();
    if (ring->size() != 5) return std::nullopt;
    const auto& box = *shape.getEnvelopeInternal();
    if (!(box.getWidth() > 0 && box.getHeight() > 0)) return std::nullopt;
    for (std::size_t index = 0; index < 4; ++index) {
        const auto& at = ring->getAt(index);
        const auto& next = ring->getAt(index + 1);
        // Each vertex a corner of the envelope, each edge along one axis.
        if ((at.x != box.getMinX() && at.x != box.getMaxX()) || (at.y != box.getMinY() && at.y != box.getMaxY())) {
            return std::nullopt;
        }
        if ((at.x == next.x) == (at.y == next.y)) return std::nullopt;
        // The four corners once each: no edge goes back the way it came.
        for (std::size_t other = 0; other < index; ++other) {
            if (ring->getAt(other).equals2D(at)) return std::nullopt;
        }
    }
    return box;
}

}  // namespace selvane::gis
