#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <span>
#include <utility>
#include <vector>

#include "gis/geometry/geos_include.h"
#include "gis/geometry/shape.h"

namespace selvane::gis {

/// An allocator whose vectors leave new elements uninitialised, for arrays that are written
/// whole, slice by slice, on several threads: zeroing them first would be a pass of its
/// own, on one thread.
template <typename T>
struct Uninitialised : std::allocator<T> {
    Uninitialised() = default;
    template <typename U>
    Uninitialised(const Uninitialised<U>&) noexcept {}
    template <typename U>
    void construct(U* at) noexcept {
        ::new (static_cast<void*>(at)) U;
    }
    template <typename U, typename... Args>
    void construct(U* at, Args&&... args) {
        ::new (static_cast<void*>(at)) U(std::forward<Args>(args)...);
    }
};

/// The spatial index of a class's rows. Over a class of plain points, the points in the
/// order of a Hilbert curve through the extent, in runs of 16 under a packed tree of their boxes
/// (about 26 bytes a point, built by one radix sort: GEOS's STRtree takes over 50 bytes a
/// point and sorts its nodes level by level); over any other class, GEOS's STRtree of the
/// shapes' envelopes.
class RowIndex {
public:
    /// An index over the points `points[row]` of the rows for which `indexed(row)` holds;
    /// of every row when `indexed` is empty.
    RowIndex(std::span<const PlainPoint> points, const std::function<bool(std::size_t)>& indexed);
    /// An index of envelopes, to which rows are added with InsertBox, then built.
    explicit RowIndex(std::size_t rows);

    void InsertBox(const geos::geom::Envelope& box, std::size_t row) { m_tree->insert(box, row); }
    /// Builds the index of envelopes over what was inserted; nothing may be inserted after.
    void Build() { m_tree->build(); }

    /// Calls `visit(row)` for each row whose point or envelope meets `box`, in no set order.
    template <typename Visit>
    void query(const geos::geom::Envelope& box, Visit&& visit) const {
        if (m_tree) {
            m_tree->query(box, [&visit](std::size_t row) { visit(row); });
            return;
        }
        QueryPoints(box, [&visit](const PointRow& point) { visit(point.row); });
    }

    /// Whether the index is over plain points (the first constructor).
    bool OverPlainPoints() const { return !m_tree; }

    /// As query, with each row's envelope as the index holds it: a drawing needs the box of
    /// every shape in view, and a search the point or rectangle a row is, which the index
    /// has without reading the shape again.
    template <typename Visit>
    void QueryWithBoxes(const geos::geom::Envelope& box, Visit&& visit) const {
        if (m_tree) {
            m_tree->query(box, [&visit](const geos::geom::Envelope& row_box, std::size_t row) { visit(row, row_box); });
            return;
        }
        QueryPoints(box, [&visit](const PointRow& point) {
            visit(point.row, geos::geom::Envelope(point.x, point.x, point.y, point.y));
        });
    }

    /// The box around every indexed row; null when none is.
    geos::geom::Envelope Extent() const;

private:
    struct PointRow {
        double x;
        double y;
        std::size_t row;
    };
    struct Box {
        double min_x, min_y, max_x, max_y;
        bool Meets(const geos::geom::Envelope& box) const {
            return min_x <= box.getMaxX() && max_x >= box.getMinX() && min_y <= box.getMaxY() && max_y >= box.getMinY();
        }
    };
    // Points, and boxes, a node.
    static constexpr std::size_t kNode = 16;
    // Rows that make a thread worth its start when the index of points is built.
    static constexpr std::size_t kPointsPerThread = 65536;

    template <typename Visit>
    void QueryPoints(const geos::geom::Envelope& box, Visit&& visit) const {
        if (m_points.empty() || box.isNull()) return;
        // Nodes to look into: a level (0, the nodes over runs of points) and an index there.
        struct Node {
            std::size_t level, index;
        };
        // Only nodes whose box meets the query's go on the stack: a small query meets one or
        // two of a node's sixteen children.
        Node stack[kNode * 24];
        std::size_t depth = 0;
        const auto push_meeting = [&](std::size_t level, std::size_t first, std::size_t end) {
            const Box* boxes = m_boxes.data() + m_levels[level];
            for (std::size_t index = first; index < end; ++index) {
                if (boxes[index].Meets(box)) stack[depth++] = {level, index};
            }
        };
        const std::size_t top = m_levels.size() - 2;
        push_meeting(top, 0, LevelSize(top));
        while (depth > 0) {
            const Node node = stack[--depth];
            const std::size_t first = node.index * kNode;
            if (node.level == 0) {
                const std::size_t end = std::min(first + kNode, m_points.size());
                for (std::size_t index = first; index < end; ++index) {
                    const auto& point = m_points[index];
                    if (box.intersects(point.x, point.y)) visit(point);
                }
                continue;
            }
            push_meeting(node.level - 1, first, std::min(first + kNode, LevelSize(node.level - 1)));
        }
    }
    std::size_t LevelSize(std::size_t level) const { return m_levels[level + 1] - m_levels[level]; }

    std::vector<PointRow, Uninitialised<PointRow>> m_points;
    std::vector<Box> m_boxes;           // level by level, from the nodes over the points up
    std::vector<std::size_t> m_levels;  // where each level starts in m_boxes, and the end
    std::unique_ptr<geos::index::strtree::TemplateSTRtree<std::size_t>> m_tree;
};

}  // namespace selvane::gis
