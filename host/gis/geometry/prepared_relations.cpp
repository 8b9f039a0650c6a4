// TOUCH, OVERLAP and CROSS of a prepared query: decided by exact shortcuts where their
// DE-9IM definitions allow, and by GEOS's relate where they do not.

#include <geos/algorithm/locate/PointOnGeometryLocator.h>
#include <geos/geom/IntersectionMatrix.h>
#include <geos/geom/LineString.h>
#include <geos/geom/Polygon.h>
#include <geos/geom/prep/PreparedGeometry.h>

#include "gis/geometry/prepared_query.h"
#include "gis/geometry/shape_kinds.h"

namespace selvane::gis {
// TOUCH: the shapes meet and II is empty.
bool PreparedQuery::Touches(const geos::geom::Geometry& target) const {
    // Two rectangles, closed boxes: they meet when their closed extents do in both axes,
    // and their interiors (the open boxes) meet when the open extents do. Comparisons
    // alone, so exact.
    if (m_box) {
        if (const auto box = RectangleBox(target)) return m_box->intersects(*box) && !OpenBoxesMeet(*m_box, *box);
    }
    using geos::algorithm::locate::SimplePointInAreaLocator;
    // A point Q touches an area T exactly when it lies on B(T) (then II is empty and they
    // meet); in I(T) or E(T) it does not.
    if (m_single_point && IsArea(target)) {
        return SimplePointInAreaLocator::locate(*m_query.getCoordinate(), &target) == geos::geom::Location::BOUNDARY;
    }
    // Every relation below implies that the shapes meet: the prepared intersects, indexed
    // on Q, rules out the candidates that merely share an envelope.
    if (!Prepared().intersects(&target)) return false;
    if (LargeValidArea()) {
        // T inside I(Q): I(T) is in I(Q) and not empty (c), so II is not.
        if (Prepared().containsProperly(&target)) return false;
        // A point T in Q but not in I(Q) is on B(Q): II is empty.
        if (target.getGeometryTypeId() == geos::geom::GeometryTypeId::GEOS_POINT) return true;
        // A line crossing B(Q) inside one segment of it, that no other part of B(Q) passes
        // through, has points of I(Q) next to the crossing (a), on its own interior: II is
        // not empty.
        if (target.getGeometryTypeId() == geos::geom::GeometryTypeId::GEOS_LINESTRING &&
            MeetBoundary(target) == LineMeeting::CrossesProperly) {
            return false;
        }
        if (target.getGeometryTypeId() == geos::geom::GeometryTypeId::GEOS_POLYGON) {
            // B(Q) meets I(T): Q's interior points next to it (a) lie in the open I(T).
            if (BoundaryMeetsInterior(target)) return false;
            // Otherwise I(T), connected (b), lies wholly in I(Q) or wholly in E(Q): one
            // point of it tells which.
            if (const auto point = InteriorPoint(target)) return AreaLocator().locate(&*point) == geos::geom::Location::EXTERIOR;
        }
    } else if (target.getGeometryTypeId() == geos::geom::GeometryTypeId::GEOS_POLYGON && ValidArea()) {
        // A small area: a point of I(T) that lies in I(Q) shows that II is not empty.
        const auto point = InteriorPoint(target);
        if (point && SimplePointInAreaLocator::locate(*point, &m_query) == geos::geom::Location::INTERIOR) return false;
    }
    return Prepared().touches(&target);
}

// OVERLAP of areas: II, IE and EI are all non-empty.
bool PreparedQuery::Overlaps(const geos::geom::Geometry& target) const {
    // Two rectangles: II is the open boxes meeting; IE is not empty exactly when Q is not
    // inside T (Q, the closure of its interior, then has interior points in the open E(T)),
    // and EI likewise.
    if (m_box) {
        if (const auto box = RectangleBox(target)) {
            return OpenBoxesMeet(*m_box, *box) && !box->covers(*m_box) && !m_box->covers(*box);
        }
    }
    if (!Prepared().intersects(&target)) return false;
    if (LargeValidArea()) {
        // T inside I(Q): no point of I(T) is in E(Q), so EI is empty.
        if (Prepared().containsProperly(&target)) return false;
        if (target.getGeometryTypeId() == geos::geom::GeometryTypeId::GEOS_POLYGON) {
            // B(Q) away from I(T): I(T), connected (b), is wholly in I(Q) (EI empty) or
            // wholly in E(Q) (II empty).
            if (!BoundaryMeetsInterior(target)) return false;
            // B(Q) meets the open I(T): points of I(Q) and E(Q) lie next to it (a), so II
            // and EI are not empty. IE is not when Q reaches past T's envelope: Q's interior
            // points next to a point of Q outside that envelope lie outside T.
            if (!target.getEnvelopeInternal()->covers(m_query.getEnvelopeInternal())) return true;
        }
    }
    return Prepared().overlaps(&target);
}

// CROSS: for a query of higher dimension, II and EI are not empty; for a lower one, II
// and IE; for two lines, II is a point.
bool PreparedQuery::Crosses(const geos::geom::Geometry& target) const {
    if (!Prepared().intersects(&target)) return false;
    if (m_area && IsLinear(target) && ValidArea()) {
        const auto by_locations =
            CrossesByVertexLocations([&target](auto&& visit) { ForEachVertexOfLine(target, visit); });
        if (by_locations) return *by_locations;
    }
    // T inside the area I(Q): no point of I(T) is in E(Q), so EI is empty, which a line or
    // point T crossing an area needs (areas never cross).
    if (!LargeValidArea()) return Prepared().crosses(&target);
    if (Prepared().containsProperly(&target)) return false;
    if (target.getGeometryTypeId() == geos::geom::GeometryTypeId::GEOS_LINESTRING) {
        switch (MeetBoundary(target)) {
            // A line, connected, away from B(Q) lies wholly in I(Q) or wholly in E(Q).
            case LineMeeting::Apart: return false;
            // Next to the crossing, B(Q) is that one segment with I(Q) on one side and E(Q)
            // on the other (a), and the line's interior passes from one to the other: II and
            // EI are not empty.
            case LineMeeting::CrossesProperly: return true;
            case LineMeeting::Touches: break;
        }
    }
    return Prepared().crosses(&target);
}

// WHOLLY CONTAIN: Q within T.
bool PreparedQuery::Within(const geos::geom::Geometry& target) const {
    // A point lies within an area exactly when it lies in the area's interior: a
    // point-in-polygon test answers that without a full relate.
    if (m_single_point && target.getDimension() == geos::geom::Dimension::A) {
        return geos::algorithm::locate::SimplePointInAreaLocator::locate(*m_query.getCoordinate(), &target) ==
               geos::geom::Location::INTERIOR;
    }
    return Prepared().intersects(&target) && Prepared().within(&target);
}

}  // namespace selvane::gis
