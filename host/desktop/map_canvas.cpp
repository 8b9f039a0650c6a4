#include "desktop/map_canvas.h"

#include <QElapsedTimer>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

#include <cmath>

namespace selvane::desktop {

MapCanvas::MapCanvas(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(false);
    setMinimumSize(200, 150);
    setCursor(Qt::OpenHandCursor);
}

void MapCanvas::SetMap(std::shared_ptr<gis::Map> map) {
    m_renderer.SetMap(std::move(map));
    ZoomToFullExtent();
}

void MapCanvas::ZoomToFullExtent() {
    QRectF extent = m_renderer.FullExtent();
    if (!extent.isEmpty()) {
        // A margin, so that shapes on the edge are not cut by the window.
        const double margin = std::max(extent.width(), extent.height()) * 0.03;
        extent.adjust(-margin, -margin, margin, margin);
    }
    m_view.world = extent;
    Refresh();
}

void MapCanvas::Refresh() {
    Render();
    repaint();
}

void MapCanvas::Render() {
    m_view.pixels = size();
    QElapsedTimer timer;
    timer.start();
    const LayersKey key{m_view.world, size(), m_renderer.Generation()};
    if (!(key == m_layers_key) || m_layers.isNull()) {
        m_layers = QImage(size(), QImage::Format_ARGB32_Premultiplied);
        m_stats = m_renderer.RenderLayers(m_layers, m_view);
        m_layers_key = key;
    }
    m_picture = m_layers;  // shared until the selection is drawn on it
    const auto selection = m_renderer.RenderSelection(m_picture, m_view);
    m_stats.selected_drawn = selection.selected_drawn;
    if (m_stats.problem.empty()) m_stats.problem = selection.problem;
    if (!m_stats.problem.empty() && on_problem) on_problem(QString::fromStdString(m_stats.problem));
    m_render_seconds = timer.nsecsElapsed() / 1e9;
    ++m_render_count;
}

void MapCanvas::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (m_drag == Drag::Pan) {
        painter.fillRect(rect(), Qt::white);
        painter.drawImage(m_drag_now - m_drag_start, m_picture);
        return;
    }
    painter.drawImage(0, 0, m_picture);
    if (m_drag == Drag::Box) {
        painter.setPen(QPen(Qt::black, 1, Qt::DashLine));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(QRect(m_drag_start, m_drag_now).normalized());
    }
}

void MapCanvas::resizeEvent(QResizeEvent*) { Render(); }

void MapCanvas::ZoomAt(QPointF pixel, double factor) {
    if (m_view.world.isEmpty()) return;
    // The point under the pointer stays where it is.
    const QPointF anchor = m_view.ToWorld(pixel);
    const QRectF shown = m_view.Shown();
    const double width = shown.width() / factor;
    const double height = shown.height() / factor;
    const double left = anchor.x() - (pixel.x() / m_view.pixels.width()) * width;
    const double top = anchor.y() + (pixel.y() / m_view.pixels.height()) * height;
    m_view.world = QRectF(left, top - height, width, height);
    Refresh();
}

void MapCanvas::wheelEvent(QWheelEvent* event) {
    const double notches = event->angleDelta().y() / 120.0;
    if (notches == 0) return;
    ZoomAt(event->position(), std::pow(1.25, notches));
}

void MapCanvas::mousePressEvent(QMouseEvent* event) {
    const bool box = event->button() == Qt::RightButton ||
                     (event->button() == Qt::LeftButton && (event->modifiers() & Qt::ShiftModifier));
    if (!box && event->button() != Qt::LeftButton) return;
    m_drag = box ? Drag::Box : Drag::Pan;
    m_drag_start = m_drag_now = event->position().toPoint();
    if (m_drag == Drag::Pan) setCursor(Qt::ClosedHandCursor);
}

void MapCanvas::mouseMoveEvent(QMouseEvent* event) {
    if (m_drag == Drag::None) return;
    m_drag_now = event->position().toPoint();
    update();
}

void MapCanvas::mouseReleaseEvent(QMouseEvent* event) {
    if (m_drag == Drag::None) return;
    m_drag_now = event->position().toPoint();
    const Drag drag = m_drag;
    m_drag = Drag::None;
    setCursor(Qt::OpenHandCursor);
    if (m_view.world.isEmpty()) return;
    if (drag == Drag::Pan) {
        const QPointF moved = m_drag_now - m_drag_start;
        const double upp = m_view.UnitsPerPixel();
        m_view.world = m_view.Shown().translated(-moved.x() * upp, moved.y() * upp);
        Refresh();
        return;
    }
    const QRect box = QRect(m_drag_start, m_drag_now).normalized();
    if (box.width() < 4 || box.height() < 4) {
        update();
        return;
    }
    const QPointF corner1 = m_view.ToWorld(box.topLeft());
    const QPointF corner2 = m_view.ToWorld(box.bottomRight());
    m_view.world = QRectF(corner1, corner2).normalized();
    Refresh();
}

}  // namespace selvane::desktop
