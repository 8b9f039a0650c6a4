#pragma once

// The command running headless: the map application model and the console forms runtime
// installed, the command created and its button pressed, as the desktop would.

#include <memory>
#include <string>
#include <vector>

#include "command/Selvane.h"
#include "console/console_runtime.h"
#include "dialogs/frmIndex.h"
#include "gis/model/application.h"
#include "gis/model/map.h"

namespace selvane::headless {

class HeadlessHost {
public:
    /// Installs the runtime and the factory for `document`; message boxes go to `messages`.
    HeadlessHost(std::shared_ptr<platform::IObject> document, console::ConsoleRuntime::MessageSink messages,
                 console::ScreenSettings screen = {});
    ~HeadlessHost();

    /// Creates the command and calls OnCreate with the application.
    std::shared_ptr<command::Selvane> CreateCommand();
    /// Presses the command's button; the dialog opened is MainDialog.
    void Press();

    const std::shared_ptr<gis::Application>& Application() const { return m_application; }
    const std::shared_ptr<console::ConsoleRuntime>& Runtime() const { return m_runtime; }
    std::shared_ptr<command::Selvane> Command() const { return m_command; }
    /// The dialog opened by the latest press, or nullptr.
    std::shared_ptr<dialogs::frmIndex> Dialog() const;
    /// The map document, when the application's document is one.
    std::shared_ptr<gis::MxDocument> Document() const;

private:
    std::shared_ptr<gis::Application> m_application;
    std::shared_ptr<console::ConsoleRuntime> m_runtime;
    std::shared_ptr<command::Selvane> m_command;
};

}  // namespace selvane::headless
