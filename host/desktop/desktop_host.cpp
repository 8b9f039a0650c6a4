#include "desktop/desktop_host.h"

#include <QIcon>

#include "qt/modeless_frame.h"
#include "gis/map_document.h"
#include "qt/builtin_resources.h"
#include "state/shared_state.h"

namespace selvane::apps {

DesktopHost::DesktopHost(std::shared_ptr<gis::MxDocument> document, QString resource_folder)
    : m_runtime((qt::LoadBuiltInResources(), std::make_shared<qt::QtRuntime>(std::move(resource_folder)))),
      m_application(std::make_shared<gis::Application>(document)),
      m_window(std::make_unique<qt::MapWindow>()) {
    // A host is a fresh load of the server: nothing of an earlier host carries over.
    state::ResetSharedState();
    m_runtime->SetMainWindow(m_window.get());
    platform::InstallRuntime(m_runtime);
    platform::InstallObjectFactory(std::make_shared<qt::QtObjectFactory>(m_application, m_window.get()));
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
    // What a host reads of a command before it shows it.
    const QString caption = QString::fromStdString(m_command->Caption());
    const QString category = QString::fromStdString(m_command->Category());
    m_action = new QAction(caption, m_window.get());
    m_action->setObjectName(QString::fromStdString(m_command->Name()));
    m_action->setToolTip(QString::fromStdString(m_command->Tooltip()));
    m_action->setStatusTip(QString::fromStdString(m_command->Message()));
    m_action->setIcon(QIcon(m_runtime->Picture(m_command->Bitmap())));
    m_action->setEnabled(m_command->Enabled());
    m_action->setCheckable(false);
    m_action->setChecked(m_command->Checked());
    m_window->CommandBar(category)->addAction(m_action);
    m_command->OnCreate(m_application);
    QObject::connect(m_action, &QAction::triggered, m_window.get(), [this] {
        // The dialog centres its outer size: tell the runtime what the window system adds
        // around a window, as it does around the main window.
        const QRect outer = m_window->frameGeometry();
        const QRect inner = m_window->geometry();
        m_runtime->SetWindowFrameMargins(QMargins(inner.left() - outer.left(), inner.top() - outer.top(),
                                                  outer.right() - inner.right(), outer.bottom() - inner.bottom()));
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

}  // namespace selvane::apps
