#pragma once

// The forms runtime is built for Qt 6 (the desktop) and for Qt 5 (QGIS 3.22 loads only
// Qt 5 libraries). What the two spell differently is spelt here, once.

#include <QFontDatabase>
#include <QMouseEvent>
#include <QPoint>

namespace selvane::qt {

/// Where a mouse event happened, in the widget's coordinates.
inline QPoint EventPoint(const QMouseEvent& event) {
#if QT_VERSION_MAJOR >= 6
    return event.position().toPoint();
#else
    return event.pos();
#endif
}

/// The font families installed.
inline QStringList FontFamilies() {
#if QT_VERSION_MAJOR >= 6
    return QFontDatabase::families();
#else
    return QFontDatabase().families();
#endif
}

}  // namespace selvane::qt
