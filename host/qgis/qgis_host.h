#pragma once

// The command inside QGIS: the forms runtime on Qt 5, the map application model over the
// open project (its layer tree, canvas and status bar), and the command created, shown as
// an action and called as every host calls a command (its properties read, OnCreate once
// with the application, OnClick on each press).

#include <QAction>
#include <QPointer>

#include <memory>

#include "command/Selvane.h"
#include "gis/model/application.h"
#include "qgis/qgis_document.h"
#include "qt_host/progress_display.h"
#include "qt/qt_runtime.h"

class QStatusBar;
class QWidget;
class QgsMapCanvas;
class QgsProject;

namespace selvane::qgis {

/// The parts of QGIS's window the command works with; a plugin takes them from
/// QgisInterface, a test makes its own.
struct QgisWindows {
    QWidget* main_window = nullptr;  ///< owns the dialogs' frames and message boxes
    QgsMapCanvas* canvas = nullptr;  ///< redrawn after a run
    QStatusBar* status_bar = nullptr;  ///< shows the run's progress
};

class QgisHost {
public:
    /// Needs a QgsApplication. Installs the runtime and the creatable classes.
    QgisHost(QgsProject& project, QgisWindows windows);
    ~QgisHost();
    QgisHost(const QgisHost&) = delete;
    QgisHost& operator=(const QgisHost&) = delete;

    /// The command's action (caption, icon, tooltip, status tip), owned by the main window,
    /// for the host to put on a toolbar and in a menu.
    QAction* CommandAction() const { return m_action; }

    qt::QtRuntime& Runtime() { return *m_runtime; }
    const std::shared_ptr<gis::Application>& Application() const { return m_application; }
    const std::shared_ptr<QgisDocument>& Document() const { return m_document; }
    qt_host::ProgressDisplay* Progress() const { return m_progress; }

private:
    std::shared_ptr<qt::QtRuntime> m_runtime;
    std::shared_ptr<QgisDocument> m_document;
    std::shared_ptr<gis::Application> m_application;
    std::shared_ptr<command::Selvane> m_command;
    QgisWindows m_windows;
    QPointer<QAction> m_action;
    QPointer<qt_host::ProgressDisplay> m_progress;
};

}  // namespace selvane::qgis
