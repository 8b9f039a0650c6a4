#pragma once

// The widgets a design's controls become: each draws itself from its design row, so that
// colours, fonts, borders and pictures are exactly the table's on every platform style.

#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QPixmap>
#include <QWidget>

#include <functional>

#include "platform/runtime.h"

namespace selvane::qt {

QColor ToColour(const platform::Rgb& rgb);
/// The design font; "MS Sans Serif" is substituted by the runtime.
QFont ToFont(const platform::Font& font);

/// A form's client area: its background colour and picture, drawn from the top left and
/// cut off at the edges.
class DesignSurface : public QWidget {
public:
    DesignSurface(const platform::FormDesign& design, QPixmap picture);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor m_back;
    QPixmap m_picture;
};

/// A frame: an etched border with its caption on the top edge, or a plain coloured area
/// when the design gives it no border.
class DesignFrame : public QWidget {
public:
    explicit DesignFrame(const platform::ControlDesign& design, QWidget* parent);
    void SetCaption(const QString& caption);
    QString Caption() const { return m_caption; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    platform::ControlDesign m_design;
    QString m_caption;
};

/// A label that reports a click of the left button.
class DesignLabel : public QLabel {
public:
    DesignLabel(const platform::ControlDesign& design, QWidget* parent);
    std::function<void()> on_click;

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
};

/// A graphical button: the background picture stretched over the button, a raised or
/// sunken edge, the caption centred and a focus rectangle.
class PictureButton : public QAbstractButton {
public:
    PictureButton(const platform::ControlDesign& design, QPixmap background, QWidget* parent);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    platform::ControlDesign m_design;
    QPixmap m_background;
};

/// A drop-down list: entries in insertion order, nothing typed, the design's colours.
class DesignComboBox : public QComboBox {
public:
    DesignComboBox(const platform::ControlDesign& design, QWidget* parent);
};

}  // namespace selvane::qt
