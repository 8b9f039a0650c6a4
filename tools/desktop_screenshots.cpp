// Takes the README's pictures of the desktop on a real display (scripts/screenshots.sh
// runs it under Xvfb):
//
//   desktop_screenshots FOLDER
//
// the main window after a selection on the sample map with the dialog beside it, the
// dialog alone, and the help window.

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QPainter>
#include <QScreen>
#include <QStyleFactory>
#include <QTimer>

#include <cstdio>

#include "desktop/desktop_host.h"
#include "qt_host/modeless_frame.h"
#include "dialogs/frmIndex.h"
#include "gis/map_document.h"
#include "picture_tool.h"
#include "qt/qt_form.h"
#include "state/shared_state.h"

namespace {

using namespace selvane;

void Settle(int milliseconds = 400) {
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

bool Save(const QPixmap& picture, const QDir& folder, const char* name) {
    const QString path = folder.filePath(QString::fromLatin1(name));
    if (!picture.isNull() && picture.save(path)) {
        std::printf("wrote %s (%d x %d)\n", qPrintable(path), picture.width(), picture.height());
        return true;
    }
    std::fprintf(stderr, "desktop_screenshots: cannot write %s\n", qPrintable(path));
    return false;
}

QWidget* FrameWindowOf(const std::shared_ptr<platform::IModelessFrame>& frame) {
    auto desktop_frame = std::dynamic_pointer_cast<qt_host::QtModelessFrame>(frame);
    return desktop_frame ? desktop_frame->Window() : nullptr;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    const auto found = tools::PictureFolder(argc, argv, "desktop_screenshots", true);
    if (!found) return 2;
    const QDir& folder = *found;

    desktop::DesktopHost host(gis::LoadMap({SELVANE_SAMPLE_MAP}));
    host.Runtime().SetShellSink([](std::intptr_t, const std::string& target) {
        std::printf("the help link hands the shell: %s\n", target.c_str());
    });
    auto& window = host.Window();
    window.resize(900, 640);
    window.move(10, 10);
    window.show();
    Settle();
    window.Canvas().ZoomToFullExtent();

    host.PressCommand();
    auto& form = *state::MainDialog->Form();
    form.ComboBox("cboSearchLayers").SetText("Parcels");
    form.ComboBox("cboRelationship").SetText("CROSS");
    form.ComboBox("cboMapLayers").SetText("Roads");
    form.Click("btnNext");
    QWidget* dialog_window = FrameWindowOf(state::MainDialog->Frame());
    if (!dialog_window) return 1;
    dialog_window->move(window.frameGeometry().right() + 12, 120);
    Settle();

    auto* screen = QGuiApplication::primaryScreen();
    const QRect both = window.frameGeometry().united(dialog_window->frameGeometry()).adjusted(-10, -10, 10, 10);
    bool saved = Save(screen->grabWindow(0, both.x(), both.y(), both.width(), both.height()), folder,
                      "desktop_selection.png");
    saved = Save(dialog_window->grab(), folder, "dialog.png") && saved;

    form.Click("btnHelp2");
    Settle();
    QWidget* help_window = nullptr;
    for (const auto& frame : host.Application()->Windows()) {
        if (frame->Caption() == "Selvane - Help") help_window = FrameWindowOf(frame);
    }
    if (help_window) {
        help_window->move(60, 60);
        Settle();
        saved = Save(help_window->grab(), folder, "help.png") && saved;
    } else {
        saved = false;
    }
    return saved ? 0 : 1;
}
