// The help dialog: one window per press of "?", its picture and links as real widgets,
// each link handing its exact target to the shell, and its frame's life.

#include <QAbstractButton>
#include <QLabel>
#include <QTest>

#include "qt_host/modeless_frame.h"
#include "desktop_test_support.h"
#include "dialogs/frmHelp.h"
#include "state/shared_state.h"

namespace selvane::testing {
namespace {

std::vector<std::shared_ptr<qt_host::QtModelessFrame>> HelpWindows(desktop::DesktopHost& host) {
    std::vector<std::shared_ptr<qt_host::QtModelessFrame>> windows;
    for (const auto& frame : host.Application()->Windows()) {
        if (frame->Caption() == "Selvane - Help") windows.push_back(std::dynamic_pointer_cast<qt_host::QtModelessFrame>(frame));
    }
    return windows;
}

TEST(HelpDialog, EachPressOfTheQuestionMarkOpensOneMoreHelpWindow) {
    DesktopMap desktop;
    desktop.Open();
    auto* help_button = desktop.Control<QAbstractButton>("btnHelp2");
    for (int press = 0; press < 3; ++press) QTest::mouseClick(help_button, Qt::LeftButton);
    const auto windows = HelpWindows(*desktop.host);
    ASSERT_EQ(windows.size(), 3u);
    for (const auto& frame : windows) {
        ASSERT_NE(frame->Window(), nullptr);
        EXPECT_TRUE(frame->Window()->isVisible());
        EXPECT_EQ(frame->Window()->windowTitle(), "Selvane - Help");
        EXPECT_EQ(frame->Window()->parentWidget(), &desktop.host->Window());
    }
    EXPECT_NE(windows[0]->Dialog(), windows[1]->Dialog());
}

TEST(HelpDialog, LinksHandTheirExactTargetsToTheShellAndShowTheHand) {
    DesktopMap desktop;
    desktop.Open();
    QTest::mouseClick(desktop.Control<QAbstractButton>("btnHelp2"), Qt::LeftButton);
    const auto windows = HelpWindows(*desktop.host);
    ASSERT_EQ(windows.size(), 1u);
    auto& form = dynamic_cast<qt::QtForm&>(*windows[0]->Dialog()->Form());
    EXPECT_EQ(form.Widget()->size(), QSize(619, 478));

    const std::vector<std::pair<std::string, std::string>> links{
        {"Label2", "http://www.tollamar.example"},
        {"Label3", "mailto:info@tollamar.example"},
        {"Label4", "http://www.tollamar.example/Products/ArcGIS/Selvane/index.htm"},
        {"Label5", "http://forum.tollamar.example/viewforum.php?f=7"},
    };
    for (const auto& [name, target] : links) {
        auto* label = dynamic_cast<QLabel*>(form.ControlWidget(name));
        ASSERT_NE(label, nullptr) << name;
        QTest::mouseClick(label, Qt::LeftButton);
        EXPECT_EQ(desktop.opened.back(), target) << name;
        EXPECT_EQ(label->cursor().shape(), Qt::BitmapCursor) << name;
        EXPECT_EQ(label->cursor().hotSpot(), QPoint(10, 10)) << name;
        EXPECT_TRUE(label->font().underline()) << name;
        EXPECT_FALSE(label->font().bold()) << name;
        EXPECT_EQ(label->palette().color(QPalette::WindowText), QColor(0, 0, 192)) << name;
    }
    EXPECT_EQ(desktop.opened.size(), 4u);
    EXPECT_TRUE(windows[0]->Window()->isVisible());  // a click leaves the window open
    EXPECT_EQ(form.ControlWidget("Label2")->parentWidget(), form.ControlWidget("Frame1"));
    EXPECT_TRUE(dynamic_cast<QLabel*>(form.ControlWidget("Label4"))->alignment() & Qt::AlignRight);
    EXPECT_FALSE(form.ControlWidget("Label5")->autoFillBackground());  // transparent over the picture
    EXPECT_EQ(form.ControlWidget("Label5")->toolTip(), "Visit the Tollamar Forum discussion for this tool");
    // The picture is drawn from the top left: its logo shows at the corner.
    const QImage shown = form.Widget()->grab().toImage();
    EXPECT_NE(shown.pixelColor(14, 14), QColor(Qt::white));
}

TEST(HelpDialog, FrameIsMadeOnceWithItsCaptionSetOnceAndClosingItFreesTheDialog) {
    DesktopMap desktop;
    auto help = dialogs::frmHelp::Create();
    auto frame = help->Frame();
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->Caption(), "Selvane - Help");
    frame->SetCaption("renamed");
    EXPECT_EQ(help->Frame(), frame);
    EXPECT_EQ(frame->Caption(), "renamed");  // not set again

    frame->SetVisible(true);
    std::weak_ptr<dialogs::frmHelp> watched = help;
    help.reset();
    auto* window = std::dynamic_pointer_cast<qt_host::QtModelessFrame>(frame)->Window();
    frame.reset();
    ASSERT_FALSE(watched.expired());  // the shown frame keeps it
    window->close();
    ProcessEvents();
    EXPECT_TRUE(watched.expired());
    EXPECT_TRUE(HelpWindows(*desktop.host).empty());
}

}  // namespace
}  // namespace selvane::testing
