#include "qgis/qgis_host.h"

#include <QStatusBar>
#include <QWidget>

#include "qt/builtin_resources.h"
#include "qt_host/command_action.h"
#include "qt_host/modeless_frame.h"
#include "state/shared_state.h"

namespace selvane::qgis {

QgisHost::QgisHost(QgsProject& project, QgisWindows windows)
    : m_runtime((qt::LoadBuiltInResources(), std::make_shared<qt::QtRuntime>())),
      m_document(std::make_shared<QgisDocument>(project, windows.canvas)),
      m_application(std::make_shared<gis::Application>(m_document)),
      m_windows(windows) {
    // A host is a fresh load of the command: nothing of an earlier host carries over.
    state::ResetSharedState();
    m_runtime->SetMainWindow(windows.main_window);
    platform::InstallRuntime(m_runtime);
    platform::InstallObjectFactory(std::make_shared<qt_host::QtObjectFactory>(m_application, windows.main_window));
    if (windows.status_bar) {
        m_progress = new qt_host::ProgressDisplay();
        windows.status_bar->addPermanentWidget(m_progress);
        m_progress->Bind(*m_application->Bar()->Progress());
    }

    m_command = std::make_shared<command::Selvane>();
    m_action = qt_host::MakeCommandAction(*m_command, *m_runtime, windows.main_window);
    m_action->setWhatsThis(QString::fromStdString(m_command->Message()));
    m_command->OnCreate(m_application);
    QObject::connect(m_action, &QAction::triggered, m_action, [this] {
        if (m_windows.main_window) qt_host::TakeWindowFrameMargins(*m_runtime, *m_windows.main_window);
        m_command->OnClick();
    });
}

QgisHost::~QgisHost() {
    // Frames and dialogs hold each other while shown; closing frees them before the
    // windows they live in go.
    m_application->CloseAllWindows();
    m_document->CommitSelections();
    state::ResetSharedState();
    m_runtime->Screen().SetMousePointer(platform::kPointerDefault);
    m_application->Bar()->Progress()->SetDisplay(nullptr);
    delete m_progress.data();
    delete m_action.data();
}

}  // namespace selvane::qgis
