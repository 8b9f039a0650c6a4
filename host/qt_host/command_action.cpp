#include "qt_host/command_action.h"

#include <QIcon>

namespace selvane::qt_host {

QAction* MakeCommandAction(platform::ICommand& command, qt::QtRuntime& runtime, QWidget* owner) {
    auto* action = new QAction(QString::fromStdString(command.Caption()), owner);
    action->setObjectName(QString::fromStdString(command.Name()));
    action->setToolTip(QString::fromStdString(command.Tooltip()));
    action->setStatusTip(QString::fromStdString(command.Message()));
    action->setIcon(QIcon(runtime.Picture(command.Bitmap())));
    action->setEnabled(command.Enabled());
    action->setCheckable(false);
    action->setChecked(command.Checked());
    return action;
}

void TakeWindowFrameMargins(qt::QtRuntime& runtime, const QWidget& window) {
    const QRect outer = window.frameGeometry();
    const QRect inner = window.geometry();
    runtime.SetWindowFrameMargins(QMargins(inner.left() - outer.left(), inner.top() - outer.top(),
                                           outer.right() - inner.right(), outer.bottom() - inner.bottom()));
}

}  // namespace selvane::qt_host
