#include "qt/design_widgets.h"

#include <QMouseEvent>
#include <QPainter>
#include <QStyleOptionFocusRect>

#include "qt/qt_versions.h"

namespace selvane::qt {

QColor ToColour(const platform::Rgb& rgb) { return QColor(rgb.red, rgb.green, rgb.blue); }

QFont ToFont(const platform::Font& font) {
    QFont result(QString::fromStdString(font.name));
    result.setPointSizeF(font.points);
    result.setBold(font.bold);
    result.setUnderline(font.underline);
    return result;
}

namespace {

Qt::Alignment ToAlignment(platform::TextAlign align) {
    switch (align) {
        case platform::TextAlign::Centre: return Qt::AlignHCenter;
        case platform::TextAlign::Right: return Qt::AlignRight;
        case platform::TextAlign::Left: break;
    }
    return Qt::AlignLeft;
}

void ApplyColours(QWidget& widget, const platform::ControlDesign& design) {
    QPalette palette = widget.palette();
    for (auto role : {QPalette::Window, QPalette::Base, QPalette::Button}) palette.setColor(role, ToColour(design.back_colour));
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
        palette.setColor(role, ToColour(design.fore_colour));
    }
    widget.setPalette(palette);
}

}  // namespace

DesignSurface::DesignSurface(const platform::FormDesign& design, QPixmap picture)
    : m_back(ToColour(design.back_colour)), m_picture(std::move(picture)) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void DesignSurface::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), m_back);
    if (!m_picture.isNull()) painter.drawPixmap(0, 0, m_picture);
}

DesignFrame::DesignFrame(const platform::ControlDesign& design, QWidget* parent)
    : QWidget(parent), m_design(design), m_caption(QString::fromStdString(design.caption)) {
    setFont(ToFont(design.font));
}

void DesignFrame::SetCaption(const QString& caption) {
    m_caption = caption;
    update();
}

void DesignFrame::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QColor back = ToColour(m_design.back_colour);
    painter.fillRect(rect(), back);
    if (!m_design.has_border) return;
    // An etched edge: a dark line with a light one inside it, from half the caption's height.
    const QFontMetrics metrics(font());
    const int top = metrics.height() / 2;
    const QRect edge = rect().adjusted(0, top, -2, -2);
    painter.setPen(back.darker(160));
    painter.drawRect(edge);
    painter.setPen(back.lighter(150));
    painter.drawRect(edge.translated(1, 1));
    if (m_caption.isEmpty()) return;
    const int left = 8;
    const QRect text(left, 0, metrics.horizontalAdvance(m_caption) + 4, metrics.height());
    painter.fillRect(text, back);
    painter.setPen(ToColour(m_design.fore_colour));
    painter.drawText(text.adjusted(2, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, m_caption);
}

DesignLabel::DesignLabel(const platform::ControlDesign& design, QWidget* parent)
    : QLabel(QString::fromStdString(design.caption), parent) {
    ApplyColours(*this, design);
    setAutoFillBackground(!design.transparent);
    setFont(ToFont(design.font));
    setAlignment(ToAlignment(design.align) | Qt::AlignTop);
    setWordWrap(true);
    setMargin(0);
    setTextFormat(Qt::PlainText);
}

void DesignLabel::mouseReleaseEvent(QMouseEvent* event) {
    QLabel::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && rect().contains(EventPoint(*event)) && on_click) on_click();
}

PictureButton::PictureButton(const platform::ControlDesign& design, QPixmap background, QWidget* parent)
    : QAbstractButton(parent), m_design(design), m_background(std::move(background)) {
    setText(QString::fromStdString(design.caption));
    setFont(ToFont(design.font));
    setFocusPolicy(Qt::StrongFocus);
}

void PictureButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRect area = rect();
    if (m_background.isNull()) {
        painter.fillRect(area, QColor(0xD4, 0xD0, 0xC8));
    } else {
        painter.drawPixmap(area, m_background);
    }
    const bool sunken = isDown();
    const QColor light(0xFF, 0xFF, 0xFF);
    const QColor dark(0x40, 0x40, 0x40);
    painter.setPen(sunken ? dark : light);
    painter.drawLine(area.topLeft(), area.topRight());
    painter.drawLine(area.topLeft(), area.bottomLeft());
    painter.setPen(sunken ? light : dark);
    painter.drawLine(area.bottomLeft(), area.bottomRight());
    painter.drawLine(area.topRight(), area.bottomRight());

    painter.setPen(isEnabled() ? ToColour(m_design.fore_colour) : QColor(0x80, 0x80, 0x80));
    const QRect text = sunken ? area.translated(1, 1) : area;
    painter.drawText(text, Qt::AlignCenter, this->text());
    if (hasFocus()) {
        QStyleOptionFocusRect focus;
        focus.initFrom(this);
        focus.rect = area.adjusted(3, 3, -3, -3);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &painter, this);
    }
}

DesignComboBox::DesignComboBox(const platform::ControlDesign& design, QWidget* parent) : QComboBox(parent) {
    setEditable(false);
    setInsertPolicy(QComboBox::NoInsert);
    setFont(ToFont(design.font));
    ApplyColours(*this, design);
    setFocusPolicy(Qt::StrongFocus);
}

}  // namespace selvane::qt
