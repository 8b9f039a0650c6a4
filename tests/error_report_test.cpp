// The standard report of unexpected failures.

#include "state/shared_state.h"
#include "support/ErrorHandling.h"
#include "test_support.h"

namespace selvane::testing {
namespace {

TEST(ErrorReport, ShowsTheNineteenLinesExactly) {
    HostedMap hosted({});
    hosted.host->CreateCommand();
    hosted.host->Press();
    support::ReportUnexpectedError(support::Location("btnNext_Click", "frmIndex", 0), -2147467259, "");
    ASSERT_EQ(hosted.messages.texts.size(), 1u);
    EXPECT_EQ(hosted.messages.titles[0], "Selvane");
    EXPECT_EQ(hosted.messages.texts[0],
              "We're sorry, an unexpected error has occurred.\r\n"
              "\r\n"
              "Please email support@tollamar.example and we'll\r\n"
              "be happy to help out.\r\n"
              "\r\n"
              "Please let us know the following:\r\n"
              "\r\n"
              "APPLICATION: Selvane v2.04\r\n"
              "ERROR NUMBER: -2147467259\r\n"
              "MODULE: btnNext_Click frmIndex \r\n"
              "ERROR DESCRIPTION: \r\n"
              "\r\n"
              "If possible, please attach a screenshot of this\r\n"
              "message with your ArcMap project in the background.\r\n"
              "You can do this by pressing <CTRL> and <Prnt Screen>\r\n"
              "and then pasting the image into a graphics application\r\n"
              "such as Paint. Saving the image as a JPG is preferrable.\r\n"
              "\r\n"
              "Thank you!");
}

TEST(ErrorReport, LineTextAndLocation) {
    EXPECT_EQ(support::ErrorLineText(0), "");
    EXPECT_EQ(support::ErrorLineText(12), "Line : 12");
    EXPECT_EQ(support::ErrorLineText(-3), "Line : -3");
    EXPECT_EQ(support::Location("Form_Load", "frmIndex", 12), "Form_Load frmIndex Line : 12");
}

TEST(ErrorReport, HidesAVisibleProgressBarBeforeTheBox) {
    HostedMap hosted({});
    hosted.host->Press();
    auto progress = hosted.host->Application()->Bar()->Progress();
    progress->Show();
    bool visible_when_shown = true;
    platform::InstallRuntime(std::make_shared<console::ConsoleRuntime>(
        [&](const std::string&, const std::string&) { visible_when_shown = progress->State().visible; }));
    support::ReportUnexpectedError("x y ", 1, "d");
    EXPECT_FALSE(visible_when_shown);
}

TEST(ErrorReport, WithoutAnApplicationStillShowsTheBox) {
    HostedMap hosted({});
    ASSERT_EQ(state::HostApplication, nullptr);
    support::ReportUnexpectedError("Frame frmIndex ", 7, "no application");
    ASSERT_EQ(hosted.messages.texts.size(), 1u);
    EXPECT_NE(hosted.messages.texts[0].find("ERROR DESCRIPTION: no application\r\n"), std::string::npos);
}

TEST(ErrorReport, TurnsEveryKindOfExceptionIntoANumberAndADescription) {
    const auto trap = [](auto thrower) {
        try {
            thrower();
        } catch (...) {
            return support::CurrentError();
        }
        return support::TrappedError{};
    };
    const auto platform_error = trap([] { throw platform::Error(-2147024809, "bad"); });
    EXPECT_EQ(platform_error.number, -2147024809);
    EXPECT_EQ(platform_error.description, "bad");
    const auto standard = trap([] { throw std::out_of_range("range"); });
    EXPECT_EQ(standard.number, platform::kUnexpected);
    EXPECT_EQ(standard.description, "range");
    const auto other = trap([] { throw 42; });
    EXPECT_EQ(other.number, platform::kFail);
}

}  // namespace
}  // namespace selvane::testing
