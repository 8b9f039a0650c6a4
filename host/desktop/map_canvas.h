#pragma once

#include <QImage>
#include <QPoint>
#include <QRect>
#include <QWidget>

#include <functional>
#include <memory>

#include "desktop/map_renderer.h"

namespace selvane::desktop {

/// The map view: draws the focus map, pans with the left button, zooms with the wheel and
/// with a box drawn with the right button (or Shift and the left), and shows the full
/// extent on demand. The layers are drawn once per view and kept: a redraw with the same
/// view (the selection run's, before and after its search) draws only the selection over
/// them, and repaints and panning cost a copy.
class MapCanvas : public QWidget {
public:
    explicit MapCanvas(QWidget* parent = nullptr);

    void SetMap(std::shared_ptr<gis::Map> map);
    MapRenderer& Renderer() { return m_renderer; }
    const Viewport& View() const { return m_view; }

    void ZoomToFullExtent();
    /// Draws the map anew and repaints at once, also while a run holds the UI thread.
    void Refresh();

    /// Seconds the latest drawing took, and what it drew.
    double LastRenderSeconds() const { return m_render_seconds; }
    const RenderStats& LastStats() const { return m_stats; }
    int RenderCount() const { return m_render_count; }

    /// Told why a layer could not be drawn (its rows cannot be read, say).
    std::function<void(const QString&)> on_problem;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void Render();
    void ZoomAt(QPointF pixel, double factor);

    MapRenderer m_renderer;
    Viewport m_view;
    QImage m_layers;  // the layers without the selection, for m_layers_key
    struct LayersKey {
        QRectF world;
        QSize pixels;
        int generation = -1;
        bool operator==(const LayersKey&) const = default;
    };
    LayersKey m_layers_key;
    QImage m_picture;
    double m_render_seconds = 0.0;
    RenderStats m_stats;
    int m_render_count = 0;

    enum class Drag { None, Pan, Box };
    Drag m_drag = Drag::None;
    QPoint m_drag_start;
    QPoint m_drag_now;
};

}  // namespace selvane::desktop
