// The searches a second thread answers ahead of the run, at the edges where a thread may
// overrun: scans of 0, 1 and 2 rows, of one less than the look-ahead window, the window and
// one more; last rows that the run skips; a run abandoned by a failure and its classes
// freed at once. Each with the second thread made slow and made fast, and each against
// the ids that a plain evaluation of the same shapes gives.

#include <geos/geom/Geometry.h>
#include <sys/prctl.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "gis/memory/search_ahead.h"
#include "test_support.h"

namespace selvane::testing {
namespace {


enum class Pace { Even, SlowWorker, SlowRun };
std::atomic<Pace> g_pace{Pace::Even};

void Sleepy(bool worker, std::size_t) {
    const auto pace = g_pace.load();
    if ((pace == Pace::SlowWorker && worker) || (pace == Pace::SlowRun && !worker)) {
        std::this_thread::sleep_for(std::chrono::microseconds(20));
    }
}

// Installs the pace for a test and takes it away after.
class Paced {
public:
    explicit Paced(Pace pace) {
        // Short sleeps as asked for, not rounded up to the default 50 µs of slack.
        ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
        g_pace = pace;
        TestTuning()->row_ahead_pace = Sleepy;
    }
    ~Paced() { TestTuning()->row_ahead_pace = nullptr; }
};

const char* PaceName(Pace pace) {
    return pace == Pace::Even ? "even" : pace == Pace::SlowWorker ? "slow worker" : "slow run";
}

std::string Square(int i) {
    const auto x = std::to_string(i), x1 = std::to_string(i + 1);
    return "POLYGON((" + x + " 0," + x1 + " 0," + x1 + " 1," + x + " 1," + x + " 0))";
}

// Wells at the squares' centres and corners, and a few beyond the last square.
TableSpec Wells(int squares) {
    TableSpec wells{"wells", kPoint, 0, {}, {}};
    for (int i = 0; i < squares + 3; ++i) {
        wells.shapes.push_back("POINT(" + std::to_string(i) + ".5 0.5)");
        wells.shapes.push_back("POINT(" + std::to_string(i) + " 0)");
    }
    return wells;
}

// The wells a plain evaluation selects: any shown query shape stands in the relation.
std::vector<std::int64_t> Expected(const gis::MemoryFeatureClass& wells, const gis::MemoryFeatureClass& queries,
                                   const std::vector<bool>& shown, bool touch) {
    std::vector<std::int64_t> ids;
    for (std::size_t t = 0; t < wells.RowCount(); ++t) {
        for (std::size_t q = 0; q < queries.RowCount(); ++q) {
            const auto query = queries.Rows().ShapeAt(q);
            const auto well = wells.Rows().ShapeAt(t);
            if (!shown[q] || !query || !query->getEnvelopeInternal()->intersects(well->getEnvelopeInternal())) {
                continue;
            }
            if (touch ? query->touches(well.get()) : query->intersects(well.get())) {
                ids.push_back(wells.Rows().Fid(t));
                break;
            }
        }
    }
    return ids;
}

struct Case {
    const char* name;
    int skipped_at_end;  // rows at the end the run skips
    const char* how;     // "hidden" by the definition query, "null" shapes, "points" that cannot TOUCH points
};

TEST(MemorySearchAhead, EveryScanSizeAroundTheWindowGivesThePlainAnswerWhicheverThreadIsSlow) {
    const int window = static_cast<int>(gis::kAheadWindow);
    const std::vector<Case> cases{{"all rows", 0, ""}, {"last rows hidden", 3, "hidden"},
                                  {"last rows without shapes", 3, "null"}, {"last rows points", 3, "points"}};
    for (const int rows : {0, 1, 2, window - 1, window, window + 1}) {
        for (const auto& kind : cases) {
            if (rows < kind.skipped_at_end) continue;
            TableSpec squares{"squares", 0, 0, {}, {}};
            for (int i = 0; i < rows; ++i) {
                const bool skipped = i >= rows - kind.skipped_at_end;
                if (skipped && std::string(kind.how) == "null") {
                    squares.shapes.push_back("");
                } else if (skipped && std::string(kind.how) == "points") {
                    squares.shapes.push_back("POINT(" + std::to_string(i) + " 0)");
                } else {
                    squares.shapes.push_back(Square(i));
                }
            }
            TempFolder folder;
            const auto path = folder.File("ahead.gpkg");
            WriteGeoPackage(path, {squares, Wells(rows)});
            const bool hidden = std::string(kind.how) == "hidden";
            const std::string query = hidden ? "fid <= " + std::to_string(rows - kind.skipped_at_end) : "";
            auto layer1 = LoadLayer(path, "squares", "Squares", query);
            auto layer2 = LoadLayer(path, "wells", "Wells");
            std::vector<bool> shown(static_cast<std::size_t>(rows), true);
            if (hidden) std::fill(shown.end() - kind.skipped_at_end, shown.end(), false);
            HostedMap hosted({layer1, layer2});
            hosted.Open();
            for (const char* relation : {"INTERSECT", "TOUCH"}) {
                const auto expected = Expected(*layer2->Class(), *layer1->Class(), shown, std::string(relation) == "TOUCH");
                for (const auto pace : {Pace::Even, Pace::SlowWorker, Pace::SlowRun}) {
                    SCOPED_TRACE(std::to_string(rows) + " rows, " + kind.name + ", " + PaceName(pace) + ", " + relation);
                    Paced paced(pace);
                    hosted.messages.texts.clear();
                    hosted.Select("Wells", relation, "Squares");
                    EXPECT_TRUE(hosted.messages.texts.empty());
                    EXPECT_EQ(layer2->SelectedFids(), expected);
                    EXPECT_EQ(hosted.Count(), std::to_string(expected.size()));
                    if (rows >= 2) {
                        EXPECT_FALSE(expected.empty());
                    }
                }
            }
        }
    }
}

TEST(MemorySearchAhead, ARunAbandonedByAFailureKeepsWhatCameBeforeAndItsClassesCanGoAtOnce) {
    const int rows = static_cast<int>(gis::kAheadWindow) + 1;
    for (const int broken : {1, rows / 2, rows - 1}) {
        for (const auto pace : {Pace::Even, Pace::SlowWorker, Pace::SlowRun}) {
            SCOPED_TRACE("bow tie at row " + std::to_string(broken) + ", " + PaceName(pace));
            TableSpec squares{"squares", 3, 0, {}, {}};
            for (int i = 0; i < rows; ++i) {
                const auto x = std::to_string(i), x1 = std::to_string(i + 1);
                squares.shapes.push_back(i == broken ? "POLYGON((" + x + " 0," + x1 + " 1," + x1 + " 0," + x + " 1," + x + " 0))"
                                                     : Square(i));
            }
            TempFolder folder;
            const auto path = folder.File("abandoned.gpkg");
            WriteGeoPackage(path, {squares, Wells(rows)});
            Paced paced(pace);
            {
                auto layer1 = LoadLayer(path, "squares", "Squares");
                auto layer2 = LoadLayer(path, "wells", "Wells");
                HostedMap hosted({layer1, layer2});
                hosted.Open();
                hosted.Select("Wells", "INTERSECT", "Squares");
                ASSERT_EQ(hosted.messages.texts.size(), 1u);
                EXPECT_NE(hosted.messages.texts[0].find("FID " + std::to_string(broken + 1) + ": Self-intersection"),
                          std::string::npos)
                    << hosted.messages.texts[0];
                // Every well of the squares before the bow tie: centres and corners up to its left edge.
                std::vector<bool> shown(static_cast<std::size_t>(rows), false);
                std::fill(shown.begin(), shown.begin() + broken, true);
                EXPECT_EQ(layer2->SelectedFids(), Expected(*layer2->Class(), *layer1->Class(), shown, false));
                // The classes go here, while the second thread may still be working ahead.
            }
        }
    }
}

}  // namespace
}  // namespace selvane::testing
