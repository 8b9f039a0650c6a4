// The Spatial Selection dialog as real widgets: geometry against its design table, the
// focus order, the pickers' style and colours, its frame window, and the message box.

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QToolBar>
#include <QComboBox>
#include <QGuiApplication>
#include <QScreen>
#include <QTest>

#include "qt_host/modeless_frame.h"
#include "desktop_test_support.h"
#include "dialogs/frmIndex.h"
#include "dialogs/frmIndex_design.h"
#include "state/shared_state.h"

namespace selvane::testing {
namespace {

int Px(int twips) { return platform::RoundHalfEven(twips / 15.0); }

TEST(DialogWidgets, EveryControlStandsWhereTheDesignPutsItInItsContainer) {
    DesktopMap desktop;
    auto& form = desktop.Open();
    ASSERT_EQ(QGuiApplication::primaryScreen()->logicalDotsPerInchX(), 96);  // 15 twips a pixel
    EXPECT_EQ(form.Widget()->size(), QSize(Px(6285), Px(3780)));
    ExpectRealisesDesign(form);
    EXPECT_EQ(desktop.Control<QWidget>("Label4")->palette().color(QPalette::WindowText), QColor(0xFF, 0xFF, 0xFF));
    auto* count = desktop.Control<QLabel>("lblCount");
    EXPECT_EQ(count->palette().color(QPalette::WindowText), QColor(0x00, 0x00, 0xFF));
    EXPECT_EQ(count->font().pointSizeF(), 12.0);
    EXPECT_TRUE(count->font().bold());
    EXPECT_TRUE(count->alignment() & Qt::AlignHCenter);
    EXPECT_TRUE(desktop.Control<QLabel>("txtVersion")->alignment() & Qt::AlignRight);
    EXPECT_EQ(desktop.Control<QLabel>("txtVersion")->text(), "v2.04");
    EXPECT_FALSE(desktop.Control<QAbstractButton>("btnHelp2")->font().bold());

    // Pickers: lists that cannot be typed into, in the design's colours, keeping insertion order.
    auto* relationship = desktop.Control<QComboBox>("cboRelationship");
    ASSERT_NE(relationship, nullptr);
    EXPECT_FALSE(relationship->isEditable());
    EXPECT_EQ(relationship->palette().color(QPalette::Button), QColor(0xF2, 0xE1, 0xEB));
    EXPECT_EQ(relationship->palette().color(QPalette::ButtonText), QColor(0x57, 0x0D, 0x46));
    EXPECT_EQ(relationship->currentText(), "INTERSECT");
    EXPECT_EQ(relationship->itemText(6), "ARE WHOLLY CONTAINED BY");
    auto* layer1 = desktop.Control<QComboBox>("cboMapLayers");
    EXPECT_EQ(layer1->palette().color(QPalette::Button), QColor(0xFF, 0xFF, 0xDD));
    ASSERT_EQ(layer1->count(), 3);
    EXPECT_EQ(layer1->itemText(0), "Roads");  // map order, not sorted
    EXPECT_EQ(layer1->itemText(2), "Parcels");
    EXPECT_EQ(layer1->currentIndex(), -1);

    // The dialog's custom cursor on pickers and buttons, its hot spot at 10, 10.
    for (const char* name : {"cboMapLayers", "btnNext", "Command1"}) {
        const QCursor cursor = form.ControlWidget(name)->cursor();
        EXPECT_EQ(cursor.shape(), Qt::BitmapCursor) << name;
        EXPECT_EQ(cursor.hotSpot(), QPoint(10, 10)) << name;
    }
}

TEST(DialogWidgets, FocusGoesFromLayerOneUpwardsThenToTheButtons) {
    DesktopMap desktop;
    auto& form = desktop.Open();
    const std::vector<std::string> order{"cboMapLayers", "cboRelationship", "cboSearchLayers",
                                         "Command1", "btnNext", "btnHelp2"};
    QWidget* widget = form.ControlWidget(order.front());
    for (std::size_t index = 1; index < order.size(); ++index) {
        // Skip what takes no focus (the combo boxes' own pieces, labels).
        do {
            widget = widget->nextInFocusChain();
        } while (widget->focusPolicy() == Qt::NoFocus || widget->focusProxy() != nullptr ||
                 form.Widget()->isAncestorOf(widget) == false);
        EXPECT_EQ(widget, form.ControlWidget(order[index])) << "after " << order[index - 1];
    }
    for (const char* name : {"Label4", "lblCount", "Image2", "Frame1"}) {
        EXPECT_EQ(form.ControlWidget(name)->focusPolicy(), Qt::NoFocus) << name;
    }
}

TEST(DialogWidgets, TheFrameIsAFixedToolWindowCentredOnTheScreenAndOwnedByTheMainWindow) {
    DesktopMap desktop;
    auto& form = desktop.Open();
    const QMargins margins = desktop.host->Runtime().WindowFrameMargins();  // read off the main window
    auto frame = std::dynamic_pointer_cast<qt_host::QtModelessFrame>(state::MainDialog->Frame());
    ASSERT_NE(frame, nullptr);
    auto* window = frame->Window();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->windowTitle(), "Selvane");
    EXPECT_EQ(window->parentWidget(), &desktop.host->Window());
    EXPECT_TRUE(window->windowFlags() & Qt::Tool);
    EXPECT_EQ(window->minimumSize(), window->maximumSize());  // cannot be resized
    EXPECT_TRUE(window->isAncestorOf(form.Widget()));

    // Outer size is the client area and the window's borders and title.
    const int outer_width = Px(6285) + margins.left() + margins.right();
    const int outer_height = Px(3780) + margins.top() + margins.bottom();
    EXPECT_EQ(form.Width(), outer_width * 15);
    EXPECT_EQ(form.Height(), outer_height * 15);
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    const auto centre = dialogs::CentredPosition(desktop.host->Runtime().Screen(), form.Width(), form.Height());
    EXPECT_EQ(centre.left, platform::RoundHalfEven(screen.width() / 2.0 - outer_width / 2.0));
    EXPECT_EQ(centre.top, platform::RoundHalfEven(screen.height() / 2.0 - outer_height / 2.0));
    EXPECT_EQ(window->pos(), QPoint(centre.left, centre.top));
}

TEST(DialogWidgets, MessageBoxesAreModalWithOnlyOkNoIconAndTheApplicationTitle) {
    DesktopMap desktop;
    MessageBoxWatcher watcher;
    desktop.host->Runtime().MessageBox("Please choose a relationship", "Selvane");
    ASSERT_EQ(watcher.shown.size(), 1u);
    EXPECT_EQ(watcher.shown[0].title, "Selvane");
    EXPECT_EQ(watcher.shown[0].text, "Please choose a relationship");
    EXPECT_EQ(watcher.shown[0].icon, QMessageBox::NoIcon);
    EXPECT_EQ(watcher.shown[0].buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    EXPECT_TRUE(watcher.shown[0].modal);
    // A name that looks like markup is shown as it is written.
    desktop.host->Runtime().MessageBox("Can't find layer: <b>Roads</b>", "Selvane");
    ASSERT_EQ(watcher.shown.size(), 2u);
    EXPECT_EQ(watcher.shown[1].text, "Can't find layer: <b>Roads</b>");
    EXPECT_EQ(watcher.shown[1].format, Qt::PlainText);
    // What would hide or reverse text is shown escaped; the message's lines stay.
    desktop.host->Runtime().MessageBox("Can't find layer: \x1b]0;owned\a\u202eslehW\r\nLine two", "Selvane\x1b[2J");
    ASSERT_EQ(watcher.shown.size(), 3u);
    EXPECT_EQ(watcher.shown[2].text, "Can't find layer: \\x1b]0;owned\\x07\\u202eslehW\r\nLine two");
    EXPECT_EQ(watcher.shown[2].title, "Selvane\\x1b[2J");
}

TEST(DialogWidgets, PickersShowNamesEscapedAndPickTheLayersTheyName) {
    const std::string name = "\u202eslecraP\x1b[2J";
    DesktopMap desktop({}, name);
    MessageBoxWatcher watcher;
    auto& form = desktop.Open();
    // Each pick as a user makes it: the entry shown, then the pick handler.
    for (const auto& [picker, shown] : {std::pair{"cboSearchLayers", "\\u202eslecraP\\x1b[2J"},
                                        std::pair{"cboRelationship", "INTERSECT"}, std::pair{"cboMapLayers", "Roads"}}) {
        auto* combo = desktop.Control<QComboBox>(picker);
        ASSERT_NE(combo, nullptr);
        const int index = combo->findText(QString::fromStdString(shown));
        ASSERT_GE(index, 0) << shown;
        combo->setCurrentIndex(index);
        emit combo->activated(index);
    }
    // The entry is the layer's name as it is, and picks that layer: a run selects in it.
    EXPECT_EQ(form.ComboBox("cboSearchLayers").Text(), name);
    QTest::mouseClick(desktop.Control<QAbstractButton>("btnNext"), Qt::LeftButton);
    EXPECT_TRUE(watcher.shown.empty()) << watcher.shown.front().text;
    EXPECT_EQ(desktop.parcels->SelectedCount(), 2u);
}

TEST(DialogWidgets, TheCommandSitsOnItsCategorysToolbarWithItsBitmapAndMessage) {
    DesktopMap desktop;
    auto& action = desktop.host->CommandAction();
    EXPECT_EQ(action.text(), "Selvane");
    EXPECT_EQ(action.toolTip(), "Selvane - Spatial Selection");
    EXPECT_EQ(action.statusTip(), "Tollamar: www.tollamar.example");
    EXPECT_FALSE(action.icon().isNull());
    const QPixmap bitmap = desktop.host->Runtime().Picture(desktop.host->Command()->Bitmap());
    EXPECT_EQ(bitmap.size(), QSize(16, 16));
    EXPECT_EQ(bitmap.toImage().pixelColor(1, 1), QColor(0x40, 0x40, 0x80));  // the parcel outline
    EXPECT_TRUE(action.isEnabled());
    ASSERT_NE(desktop.host->Window().findChild<QToolBar*>("Tollamar"), nullptr);
    EXPECT_TRUE(desktop.host->Window().findChild<QToolBar*>("Tollamar")->actions().contains(&action));
    EXPECT_EQ(state::ProductName, "Selvane");  // OnCreate ran when the host made the command
}

}  // namespace
}  // namespace selvane::testing
