#include "desktop/desktop_host.h"

#include "gis/map_document.h"
#include "qt/builtin_resources.h"
#include "qt_host/command_action.h"
#include "qt_host/modeless_frame.h"
#include "state/shared_state.h"

namespace selvane::desktop {

DesktopHost::DesktopHost(std::shared_ptr<gis::MxDocument> document, QString resource_folder)
    : m_runtime((qt::LoadBuiltInResources(), std::make_shared<qt::QtRuntime>(std::move(resource_folder)))),
      m_application(std::make_shared<gis::Application>(document)),
      m_window(std::make_unique<MapWindow>()) {
    // A host is a fresh load of the server: nothing of an earlier host carries over.
    state::ResetSharedState();
    m_runtime->SetMainWindow(m_window.get());
    platform::InstallRuntime(m_runtime);
    platform::InstallObjectFactory(std::make_shared<qt_host::QtObjectFactory>(m_application, m_window.get()));
    m_window->Progress().Bind(*m_application->Bar()->Progress());
    m_window->ShowDocument(document);
    m_window->on_open = [this](const std::vector<std::string>& paths) { Open(paths); };
    AddCommand();
}

DesktopHost::~DesktopHost() {
    // Frames and dialogs hold each other while shown; closing frees them before the
    // windows they live in go.
    m_application->CloseAllWindows();
    state::ResetSharedState();
    m_runtime->Screen().SetMousePointer(platform::kPointerDefault);
}

void DesktopHost::AddCommand() {
    m_command = std::make_shared<command::Selvane>();
    m_action = qt_host::MakeCommandAction(*m_command, *m_runtime, m_window.get());
    m_window->CommandBar(QString::fromStdString(m_command->Category()))->addAction(m_action);
    m_command->OnCreate(m_application);
    QObject::connect(m_action, &QAction::triggered, m_window.get(), [this] {
        qt_host::TakeWindowFrameMargins(*m_runtime, *m_window);
        m_command->OnClick();
    });
}

bool DesktopHost::Open(const std::vector<std::string>& paths) {
    std::shared_ptr<gis::MxDocument> document;
    try {
        document = gis::LoadMap(paths);
    } catch (const std::exception& error) {
        m_runtime->MessageBox(error.what(), "Selvane Map");
        return false;
    }
    m_application->OpenDocument(document);
    m_window->ShowDocument(document);
    return true;
}

std::shared_ptr<gis::MxDocument> DesktopHost::Document() const {
    return std::dynamic_pointer_cast<gis::MxDocument>(m_application->Document());
}

}  // namespace selvane::desktop
