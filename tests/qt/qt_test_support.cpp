#include "qt_test_support.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
#include <QFontInfo>
#include <QPalette>

#include "forms/twips.h"
#include "platform/runtime.h"

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

void ExpectRealisesDesign(qt::QtForm& form) {
    const auto& screen = platform::Runtime().Screen();
    const int twips_x = screen.TwipsPerPixelX();
    const int twips_y = screen.TwipsPerPixelY();
    const auto& design = form.Design();
    ASSERT_NE(form.Widget(), nullptr);
    EXPECT_EQ(form.Widget()->width(), forms::Pixels(design.client_width, twips_x));
    EXPECT_EQ(form.Widget()->height(), forms::Pixels(design.client_height, twips_y));
    ASSERT_FALSE(design.controls.empty());
    for (const auto& control : design.controls) {
        SCOPED_TRACE(control.name);
        QWidget* widget = form.ControlWidget(control.name);
        ASSERT_NE(widget, nullptr);
        EXPECT_EQ(widget->objectName().toStdString(), control.name);
        const auto rect = forms::Pixels(control.position, twips_x, twips_y);
        EXPECT_EQ(widget->geometry(), QRect(rect.left, rect.top, rect.width, rect.height));
        QWidget* container = control.container.empty() ? form.Widget() : form.ControlWidget(control.container);
        EXPECT_EQ(widget->parentWidget(), container);
        EXPECT_EQ(widget->toolTip().toStdString(), control.tooltip);
        EXPECT_EQ(widget->font().bold(), control.font.bold);
        EXPECT_DOUBLE_EQ(widget->font().pointSizeF(), control.font.points);
        EXPECT_EQ(widget->font().underline(), control.font.underline);
        if (!control.transparent && control.kind == platform::ControlKind::Label) {
            const QColor back = widget->palette().color(QPalette::Window);
            EXPECT_EQ(back, QColor(control.back_colour.red, control.back_colour.green, control.back_colour.blue));
        }
    }
}

void ProcessEvents() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
}

}  // namespace selvane::testing
