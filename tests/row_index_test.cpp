// The index of a class of points finds exactly the points a box holds, whatever the
// number of points against its runs of sixteen and its slices a core, and however they lie.

#include <algorithm>
#include <cmath>
#include <functional>
#include <random>
#include <vector>

#include "gis/memory/row_index.h"
#include "test_support.h"

namespace selvane::testing {
namespace {

std::vector<std::size_t> Found(const gis::RowIndex& index, const geos::geom::Envelope& box) {
    std::vector<std::size_t> rows;
    index.query(box, [&rows](std::size_t row) { rows.push_back(row); });
    std::sort(rows.begin(), rows.end());
    return rows;
}

TEST(RowIndex, APointIndexFindsWhatEachBoxHoldsAsAScanWould) {
    std::mt19937 random(12082026);
    struct Layout {
        const char* name;
        std::function<gis::PlainPoint(std::size_t)> point;
    };
    std::uniform_real_distribution<double> anywhere(-1000, 1000);
    std::uniform_int_distribution<int> grid(0, 20);
    const std::vector<Layout> layouts{
        {"scattered", [&](std::size_t) { return gis::PlainPoint{anywhere(random), anywhere(random)}; }},
        // Many points on the same spots, on the boxes' edges.
        {"on a grid", [&](std::size_t) { return gis::PlainPoint{grid(random) * 0.5, grid(random) * 0.5}; }},
        {"all in one place", [](std::size_t) { return gis::PlainPoint{3, -4}; }},
        {"on one line", [&](std::size_t row) { return gis::PlainPoint{static_cast<double>(row), 7}; }},
        {"far apart", [&](std::size_t row) { return gis::PlainPoint{row % 2 ? 1e300 : -1e300, row * 1e-300}; }},
    };
    // 30,000 points and more (90,000 rows) are sorted a slice of rows a core.
    for (const std::size_t count : {0u, 1u, 16u, 17u, 256u, 257u, 4097u, 20000u, 30000u, 70001u}) {
        for (const auto& layout : layouts) {
            SCOPED_TRACE(std::string(layout.name) + ", " + std::to_string(count) + " points");
            // Rows as a class numbers them, with rows between that have no point.
            std::vector<gis::PlainPoint> points(3 * count, gis::PlainPoint{0, 0});
            for (std::size_t row = 0; row < count; ++row) points[3 * row + 1] = layout.point(row);
            const gis::RowIndex index(points, [](std::size_t row) { return row % 3 == 1; });
            std::vector<geos::geom::Envelope> boxes{{0, 5, 0, 5}, {3, 3, -4, -4}, {-1e301, 1e301, -1e301, 1e301},
                                                    {0.5, 1.5, 0.5, 0.5}, {10, 9.5, 3, 3.5}, {}};
            for (int i = 0; i < 40; ++i) {
                const double x = anywhere(random) / 100, y = anywhere(random) / 100;
                boxes.emplace_back(x, x + std::abs(anywhere(random)) / 50, y, y + std::abs(anywhere(random)) / 50);
                boxes.emplace_back(grid(random) * 0.5, grid(random) * 0.5, grid(random) * 0.5, grid(random) * 0.5);
            }
            for (const auto& box : boxes) {
                std::vector<std::size_t> expected;
                for (std::size_t row = 1; row < points.size(); row += 3) {
                    if (box.intersects(points[row].x, points[row].y)) expected.push_back(row);
                }
                ASSERT_EQ(Found(index, box), expected) << box.toString();
            }
        }
    }
}

TEST(RowIndex, AnIndexOfEveryRowFindsWhatEachBoxHoldsOnEitherSideOfASliceACore) {
    // Without a predicate every row is indexed: no rows, one, and a slice a core's worth of
    // points (65,536) with one either side, where the build goes from one thread to several.
    std::mt19937 random(10122026);
    std::uniform_int_distribution<int> grid(0, 40);
    for (const std::size_t count : {0u, 1u, 65535u, 65536u, 65537u}) {
        SCOPED_TRACE(std::to_string(count) + " points");
        std::vector<gis::PlainPoint> points(count);
        for (auto& point : points) point = {grid(random) * 0.25, grid(random) * 0.25};
        const gis::RowIndex index(points, {});
        std::vector<geos::geom::Envelope> boxes{{-1, 11, -1, 11}, {2.5, 2.5, 2.5, 2.5}, {20, 30, 20, 30}, {}};
        for (int i = 0; i < 20; ++i) {
            const double x = grid(random) * 0.25, y = grid(random) * 0.25;
            boxes.emplace_back(x, x + grid(random) * 0.05, y, y + grid(random) * 0.05);
        }
        for (const auto& box : boxes) {
            std::vector<std::size_t> expected;
            for (std::size_t row = 0; row < points.size(); ++row) {
                if (box.intersects(points[row].x, points[row].y)) expected.push_back(row);
            }
            ASSERT_EQ(Found(index, box), expected) << box.toString();
        }
    }
}

}  // namespace
}  // namespace selvane::testing
