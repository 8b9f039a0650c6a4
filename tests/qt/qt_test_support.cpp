#include "qt_test_support.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCoreApplication>
#include <QEvent>

namespace selvane::testing {

MessageBoxWatcher::MessageBoxWatcher() {
    m_timer.setInterval(10);
    QObject::connect(&m_timer, &QTimer::timeout, [this] {
        for (auto* widget : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<QMessageBox*>(widget);
            if (!box || !box->isVisible()) continue;
            const QWidget* owner = box->parentWidget() ? box->parentWidget()->window() : nullptr;
            shown.push_back({box->windowTitle().toStdString(), box->text().toStdString(), box->icon(),
                             box->standardButtons(), box->isModal(), box->textFormat(),
                             owner ? owner->objectName().toStdString() : std::string()});
            if (auto* ok = box->button(QMessageBox::Ok)) {
                ok->click();
            } else {
                box->reject();
            }
        }
    });
    m_timer.start();
}

void Pick(QComboBox* combo, const QString& text) {
    ASSERT_NE(combo, nullptr);
    const int index = combo->findText(text);
    ASSERT_GE(index, 0) << text.toStdString();
    combo->setCurrentIndex(index);
    emit combo->activated(index);
}

std::vector<std::string> Entries(const QComboBox& combo) {
    std::vector<std::string> entries;
    for (int index = 0; index < combo.count(); ++index) entries.push_back(combo.itemText(index).toStdString());
    return entries;
}

void ProcessEvents() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
}

}  // namespace selvane::testing
