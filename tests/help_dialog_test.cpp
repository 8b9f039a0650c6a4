// The help dialog headless: what "?" opens, what each link hands to the shell, and the
// standard report for failures inside a link, Frame and btnHelp2_Click.

#include "dialogs/frmHelp.h"
#include "gis/model/application.h"
#include "state/shared_state.h"
#include "test_support.h"

namespace selvane::testing {
namespace {

// The model's classes, except that no modeless frame can be made.
class NoFrames : public gis::ObjectFactory {
public:
    using gis::ObjectFactory::ObjectFactory;
    std::shared_ptr<platform::IModelessFrame> CreateModelessFrame() override {
        throw platform::Error(platform::kFail, "No more windows");
    }
};

// The model's classes, except that a modeless frame cannot take its caption.
class CaptionlessFrames : public gis::ObjectFactory {
public:
    explicit CaptionlessFrames(const std::shared_ptr<gis::Application>& application)
        : gis::ObjectFactory(application), m_application(application) {}
    std::shared_ptr<platform::IModelessFrame> CreateModelessFrame() override {
        class Frame : public gis::ModelessFrame {
        public:
            using gis::ModelessFrame::ModelessFrame;
            void SetCaption(const std::string&) override { throw platform::Error(-2147024809, "No caption here"); }
        };
        return std::make_shared<Frame>(m_application);
    }

private:
    std::shared_ptr<gis::Application> m_application;
};

std::vector<std::shared_ptr<gis::ModelessFrame>> HelpFrames(const gis::Application& application) {
    std::vector<std::shared_ptr<gis::ModelessFrame>> frames;
    for (const auto& frame : application.Windows()) {
        if (frame->Caption() == "Selvane - Help") frames.push_back(frame);
    }
    return frames;
}

TEST(HelpDialog, QuestionMarkOpensAHelpWindowEachTimeWhoseLinksGoToTheShell) {
    HostedMap hosted({});
    std::vector<std::string> opened;
    hosted.host->Runtime()->SetShellSink([&](std::intptr_t, const std::string& target) { opened.push_back(target); });
    auto& form = hosted.Open();
    for (int press = 0; press < 3; ++press) form.Click("btnHelp2");
    const auto frames = HelpFrames(*hosted.host->Application());
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_TRUE(frames[2]->Visible());

    auto help = frames[0]->Dialog()->Form();
    EXPECT_EQ(help->Design().client_width, 9285);
    for (const char* link : {"Label2", "Label3", "Label4", "Label5"}) help->Click(link);
    EXPECT_EQ(opened, (std::vector<std::string>{"http://www.tollamar.example", "mailto:info@tollamar.example",
                                                "http://www.tollamar.example/Products/ArcGIS/Selvane/index.htm",
                                                "http://forum.tollamar.example/viewforum.php?f=7"}));
    EXPECT_EQ(help->Label("Label2").Caption(), "www.tollamar.example");
    EXPECT_EQ(help->Label("Label3").Caption(), "info@tollamar.example");
    EXPECT_TRUE(hosted.messages.texts.empty());

    // The updates page follows the product name of the latest OnCreate.
    state::ProductName = "Renamed";
    EXPECT_EQ(dialogs::frmHelp::UpdatesTarget(), "http://www.tollamar.example/Products/ArcGIS/Renamed/index.htm");
}

TEST(HelpDialog, FailuresInALinkOrInMakingTheFrameGiveTheStandardReport) {
    HostedMap hosted({});
    hosted.host->Runtime()->SetShellSink(
        [](std::intptr_t, const std::string&) { throw platform::Error(-2147024894, "The system cannot find the file"); });
    auto& form = hosted.Open();
    form.Click("btnHelp2");
    auto help = HelpFrames(*hosted.host->Application()).at(0)->Dialog()->Form();
    help->Click("Label3");
    ASSERT_EQ(hosted.messages.texts.size(), 1u);
    EXPECT_NE(hosted.messages.texts[0].find("ERROR NUMBER: -2147024894\r\nMODULE: Label3_Click frmHelp Line : 1\r\n"
                                            "ERROR DESCRIPTION: The system cannot find the file\r\n"),
              std::string::npos)
        << hosted.messages.texts[0];

    platform::InstallObjectFactory(std::make_shared<NoFrames>(hosted.host->Application()));
    form.Click("btnHelp2");
    ASSERT_EQ(hosted.messages.texts.size(), 2u);
    EXPECT_NE(hosted.messages.texts[1].find("MODULE: Frame frmHelp Line : 2\r\nERROR DESCRIPTION: No more windows"),
              std::string::npos)
        << hosted.messages.texts[1];
    EXPECT_EQ(HelpFrames(*hosted.host->Application()).size(), 1u);

    // The help dialog's Frame sets no trap of its own: a caption the frame refuses reaches
    // the report of "?"'s click.
    platform::InstallObjectFactory(std::make_shared<CaptionlessFrames>(hosted.host->Application()));
    form.Click("btnHelp2");
    ASSERT_EQ(hosted.messages.texts.size(), 3u);
    EXPECT_NE(hosted.messages.texts[2].find("ERROR NUMBER: -2147024809\r\nMODULE: btnHelp2_Click frmIndex Line : 2\r\n"
                                            "ERROR DESCRIPTION: No caption here"),
              std::string::npos)
        << hosted.messages.texts[2];
}

}  // namespace
}  // namespace selvane::testing
