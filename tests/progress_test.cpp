// The status bar's progress bar: the state the run sets, and throttled drawing.

#include "gis/model/status_bar.h"
#include "test_support.h"

namespace selvane::testing {
namespace {

TEST(Progress, AMillionStepsCostAboutAHundredDrawsAndTheLastStateIsDrawn) {
    gis::StepProgressor progress;
    std::vector<gis::ProgressState> drawn;
    progress.SetDisplay([&](const gis::ProgressState& state) { drawn.push_back(state); });
    progress.SetMinRange(1);
    progress.SetMaxRange(1000000);
    progress.SetStepValue(1);
    progress.SetPosition(1);
    progress.SetMessage("Building selection...");
    progress.Step();
    EXPECT_TRUE(drawn.empty());  // nothing is drawn while hidden
    progress.Show();
    for (int i = 0; i < 1000000; ++i) progress.Step();
    EXPECT_GE(drawn.size(), 100u);
    EXPECT_LE(drawn.size(), 110u);
    EXPECT_GE(drawn.back().position, 1000002 - 10000);  // within the last hundredth
    EXPECT_EQ(drawn.back().message, "Building selection...");
    progress.Hide();
    EXPECT_FALSE(drawn.back().visible);
    progress.Hide();  // hiding a hidden bar draws nothing
    EXPECT_FALSE(drawn.back().visible);
    EXPECT_LE(drawn.size(), 111u);
}

TEST(Progress, AnEmptyRangeDrawsAtEveryStepWithoutFailing) {
    gis::StepProgressor progress;
    int draws = 0;
    progress.SetDisplay([&](const gis::ProgressState&) { ++draws; });
    progress.SetMinRange(1);
    progress.SetMaxRange(0);
    progress.SetPosition(1);
    progress.Show();
    progress.Step();
    progress.Step();
    EXPECT_EQ(draws, 3);
}

}  // namespace
}  // namespace selvane::testing
