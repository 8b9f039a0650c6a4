#pragma once

// The command on the desktop: the map application model, the Qt forms runtime and the
// main window, with the command created, shown on a toolbar and called as a host calls
// a command (its properties read, OnCreate once with the application, OnClick on each
// press).

#include <QAction>
#include <QString>

#include <memory>
#include <string>
#include <vector>

#include "command/Selvane.h"
#include "desktop/map_window.h"
#include "gis/model/application.h"
#include "gis/model/map.h"
#include "qt/qt_runtime.h"

namespace selvane::desktop {

class DesktopHost {
public:
    /// Needs a QApplication. Installs the runtime and the factory and shows `document`.
    explicit DesktopHost(std::shared_ptr<gis::MxDocument> document, QString resource_folder = qt::kBuiltInResources);
    ~DesktopHost();
    DesktopHost(const DesktopHost&) = delete;
    DesktopHost& operator=(const DesktopHost&) = delete;

    /// Loads a map document or data files and shows them. A file that fails to load gives
    /// a message box naming it, and the open map stays as it was. Returns whether it loaded.
    bool Open(const std::vector<std::string>& paths);

    /// Presses the command's button.
    void PressCommand() { m_action->trigger(); }

    MapWindow& Window() { return *m_window; }
    qt::QtRuntime& Runtime() { return *m_runtime; }
    const std::shared_ptr<gis::Application>& Application() const { return m_application; }
    const std::shared_ptr<command::Selvane>& Command() const { return m_command; }
    QAction& CommandAction() { return *m_action; }
    /// The map document on show.
    std::shared_ptr<gis::MxDocument> Document() const;

private:
    void AddCommand();

    std::shared_ptr<qt::QtRuntime> m_runtime;
    std::shared_ptr<gis::Application> m_application;
    std::unique_ptr<MapWindow> m_window;
    std::shared_ptr<command::Selvane> m_command;
    QAction* m_action = nullptr;
};

}  // namespace selvane::desktop
