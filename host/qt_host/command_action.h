#pragma once

// A command as a Qt host shows it: an action with the command's caption, name, tooltip,
// message and bitmap, read as a host reads a command before it shows it.

#include <QAction>
#include <QWidget>

#include "platform/arcobjects.h"
#include "qt/qt_runtime.h"

namespace selvane::qt_host {

/// A new action of `owner` for `command`; pressing it does nothing yet.
QAction* MakeCommandAction(platform::ICommand& command, qt::QtRuntime& runtime, QWidget* owner);

/// Tells the runtime what the window system adds around `window` (title bar and borders):
/// the dialog centres its outer size, as the host's main window has it.
void TakeWindowFrameMargins(qt::QtRuntime& runtime, const QWidget& window);

}  // namespace selvane::qt_host
