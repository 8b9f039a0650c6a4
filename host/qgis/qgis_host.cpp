#include "qgis/qgis_host.h"

#include <QIcon>
#include <QStatusBar>
#include <QWidget>

#include "qt/builtin_resources.h"
#include "qt/modeless_frame.h"
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
    platform::InstallObjectFactory(std::make_shared<qt::QtObjectFactory>(m_application, windows.main_window));
    if (windows.status_bar) {
        m_progress = new qt::ProgressDisplay();
        windows.status_bar->addPermanentWidget(m_progress);
        m_progress->Bind(*m_application->Bar()->Progress());
    }

    m_command = std::make_shared<command::Selvane>();
    // What a host reads of a command before it shows it.
    m_action = new QAction(QString::fromStdString(m_command->Caption()), windows.main_window);
    m_action->setObjectName(QString::fromStdString(m_command->Name()));
    m_action->setToolTip(QString::fromStdString(m_command->Tooltip()));
    m_action->setStatusTip(QString::fromStdString(m_command->Message()));
    m_action->setWhatsThis(QString::fromStdString(m_command->Message()));
    m_action->setIcon(QIcon(m_runtime->Picture(m_command->Bitmap())));
    m_action->setEnabled(m_command->Enabled());
    m_action->setChecked(m_command->Checked());
    m_command->OnCreate(m_application);
    QObject::connect(m_action, &QAction::triggered, m_action, [this] {
        // The dialog centres its outer size: tell the runtime what the window system adds
        // around a window, as it does around QGIS's main window.
        if (QWidget* main = m_windows.main_window) {
            const QRect outer = main->frameGeometry();
            const QRect inner = main->geometry();
            m_runtime->SetWindowFrameMargins(QMargins(inner.left() - outer.left(), inner.top() - outer.top(),
                                                      outer.right() - inner.right(), outer.bottom() - inner.bottom()));
        }
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
