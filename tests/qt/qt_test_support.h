#pragma once

// Helpers of the suites that drive real Qt widgets, built for Qt 6 (the desktop) and Qt 5
// (QGIS): a watcher that answers modal message boxes as a user would, picking a list's
// entry as a user does, and running the events that are due.

#include <QComboBox>
#include <QMessageBox>
#include <QString>
#include <QTimer>

#include <string>
#include <vector>

#include "qt/qt_form.h"

namespace selvane::testing {

/// What one message box showed.
struct ShownMessageBox {
    std::string title;
    std::string text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    bool modal = false;
    Qt::TextFormat format = Qt::AutoText;
    std::string owner;  ///< the object name of the window it belongs to
};

/// Closes every message box that opens, with its OK button, and records it.
class MessageBoxWatcher {
public:
    MessageBoxWatcher();
    std::vector<ShownMessageBox> shown;

private:
    QTimer m_timer;
};

/// Picks an entry as a user does: the list's entry chosen, then its pick handler. Fails the
/// test when the list has no such entry.
void Pick(QComboBox* combo, const QString& text);

/// The entries of a list, in order.
std::vector<std::string> Entries(const QComboBox& combo);

/// Checks that every control of a realised form stands where its design puts it in its
/// container, named as it is named, with its font, tooltip and (for an opaque label) colour:
/// the same whichever Qt the runtime is built for.
void ExpectRealisesDesign(qt::QtForm& form);

/// Runs the events that are due (deferred deletions included).
void ProcessEvents();

}  // namespace selvane::testing
