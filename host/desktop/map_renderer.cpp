#include "desktop/map_renderer.h"

#include <ogr_spatialref.h>

#include <QColor>

#include <algorithm>
#include <cmath>
#include <vector>

#include "desktop/shape_painting.h"
#include "gis/geometry/geos_include.h"
#include "gis/files/raster_picture.h"
#include "platform/error.h"

namespace selvane::desktop {
namespace {

// The largest side of a raster's picture kept in memory: enough for a full-screen view,
// small enough that a huge image costs a few megabytes.
constexpr int kRasterSide = 2048;

const QColor kSelection(0x00, 0xFF, 0xFF);

// Shapes fewer pixels across than this are drawn as their boxes.
constexpr double kSmallShape = 4.0;

QColor LayerColour(int ordinal) {
    static const QColor kPalette[] = {{0xB0, 0x30, 0x30}, {0x20, 0x60, 0xB0}, {0x9C, 0x7A, 0x3C}, {0x3C, 0x8C, 0x3C},
                                      {0x80, 0x40, 0xA0}, {0xC0, 0x70, 0x10}, {0x30, 0x90, 0x90}};
    return kPalette[ordinal % static_cast<int>(std::size(kPalette))];
}

// Calls `visit` for every layer to draw, the bottom one first.
template <typename Visit>
void ForEachVisibleBottomUp(const std::vector<std::shared_ptr<platform::ILayer>>& layers,
                            const std::set<const platform::ILayer*>& hidden, Visit&& visit) {
    for (auto layer = layers.rbegin(); layer != layers.rend(); ++layer) {
        if (hidden.count(layer->get())) continue;
        if (auto group = std::dynamic_pointer_cast<gis::GroupLayer>(*layer)) {
            ForEachVisibleBottomUp(group->Members(), hidden, visit);
        } else {
            visit(**layer);
        }
    }
}

}  // namespace

MapRenderer::MapRenderer() = default;
MapRenderer::~MapRenderer() = default;

void MapRenderer::SetMap(std::shared_ptr<gis::Map> map) {
    ++m_generation;
    m_map = std::move(map);
    m_hidden.clear();
    m_transforms.clear();
    m_rasters.clear();
    m_map_reference.reset();
    if (!m_map) return;
    // The map takes the coordinate system of its first feature class that has one; each
    // class keeps its colour whatever is switched off.
    m_ordinals.clear();
    gis::ForEachLayerOf<gis::FeatureSource>(m_map->Layers(), [this](gis::FeatureSource& layer) {
        if (!m_map_reference && layer.ClassSpatialReference()) m_map_reference = layer.ClassSpatialReference();
        m_ordinals.emplace(layer.ClassIdentity(), static_cast<int>(m_ordinals.size()));
    });
}

void MapRenderer::SetVisible(const platform::ILayer* layer, bool visible) {
    ++m_generation;
    if (visible) {
        m_hidden.erase(layer);
    } else {
        m_hidden.insert(layer);
    }
}

bool MapRenderer::Visible(const platform::ILayer* layer) const { return m_hidden.count(layer) == 0; }

OGRCoordinateTransformation* MapRenderer::ToMap(const gis::FeatureSource& layer) {
    const auto& reference = layer.ClassSpatialReference();
    if (!reference || !m_map_reference || reference == m_map_reference || reference->IsSame(m_map_reference.get())) {
        return nullptr;
    }
    auto& transforms = m_transforms[layer.ClassIdentity()];
    if (!transforms.to_map) {
        transforms.to_map.reset(OGRCreateCoordinateTransformation(reference.get(), m_map_reference.get()));
        transforms.from_map.reset(OGRCreateCoordinateTransformation(m_map_reference.get(), reference.get()));
    }
    return transforms.to_map.get();
}

OGRCoordinateTransformation* MapRenderer::FromMap(const gis::FeatureSource& layer) {
    if (!ToMap(layer)) return nullptr;
    return m_transforms[layer.ClassIdentity()].from_map.get();
}

QRectF MapRenderer::ClassExtent(gis::FeatureSource& layer) {
    const auto extent = layer.ClassExtent();
    if (extent.isNull()) return QRectF(0, 0, -1, -1);
    double min_x = extent.getMinX(), min_y = extent.getMinY(), max_x = extent.getMaxX(), max_y = extent.getMaxY();
    if (auto* to_map = ToMap(layer)) {
        double x0, y0, x1, y1;
        if (!to_map->TransformBounds(min_x, min_y, max_x, max_y, &x0, &y0, &x1, &y1, 21)) return QRectF(0, 0, -1, -1);
        min_x = x0, min_y = y0, max_x = x1, max_y = y1;
    }
    return QRectF(QPointF(min_x, min_y), QPointF(max_x, max_y));
}

QRectF MapRenderer::FullExtent() {
    m_extent_problem.clear();
    geos::geom::Envelope extent;
    auto unite = [&extent](const QRectF& part) {
        if (part.width() < 0 || part.height() < 0 || !std::isfinite(part.left())) return;
        extent.expandToInclude(part.left(), part.top());
        extent.expandToInclude(part.right(), part.bottom());
    };
    if (!m_map) return {};
    std::set<const void*> seen;
    gis::ForEachLayerOf<platform::ILayer>(m_map->Layers(), [&](platform::ILayer& layer) {
        auto* source = dynamic_cast<gis::FeatureSource*>(&layer);
        if (!source || !seen.insert(source->ClassIdentity()).second) return;
        try {
            unite(ClassExtent(*source));
        } catch (const platform::Error& error) {
            // Rows that cannot be read have no extent; the next drawing says why.
            m_extent_problem = layer.Name() + ": " + error.what();
        }
    });
    gis::ForEachLayerOf<gis::RasterLayer>(m_map->Layers(), [&](const gis::RasterLayer& raster) {
        const auto& world = RasterOf(raster).world;
        if (!world.isEmpty()) unite(world);
    });
    if (extent.isNull()) return {};
    QRectF result(QPointF(extent.getMinX(), extent.getMinY()), QPointF(extent.getMaxX(), extent.getMaxY()));
    // A single point has no size: give it some room.
    if (result.width() == 0 && result.height() == 0) result.adjust(-50, -50, 50, 50);
    return result;
}

const MapRenderer::Raster& MapRenderer::RasterOf(const gis::RasterLayer& layer) {
    const auto known = m_rasters.find(&layer);
    if (known != m_rasters.end()) return known->second;
    Raster& raster = m_rasters[&layer];
    auto picture = gis::ReadRasterPicture(layer.Source(), kRasterSide);
    if (picture.Empty()) return raster;
    QImage image(picture.width, picture.height, QImage::Format_RGB32);
    for (int y = 0; y < picture.height; ++y) {
        std::copy_n(picture.pixels.data() + static_cast<std::size_t>(y) * picture.width, picture.width,
                    reinterpret_cast<QRgb*>(image.scanLine(y)));
    }
    raster.world = QRectF(QPointF(picture.min_x, picture.min_y), QPointF(picture.max_x, picture.max_y));
    raster.image = std::move(image);
    return raster;
}

void MapRenderer::DrawRaster(QPainter& painter, const gis::RasterLayer& layer, const Viewport& viewport) {
    const Raster& raster = RasterOf(layer);
    if (raster.image.isNull()) return;
    const QPointF top_left = viewport.ToPixel(raster.world.left(), raster.world.bottom());
    const QPointF bottom_right = viewport.ToPixel(raster.world.right(), raster.world.top());
    painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
    painter.drawImage(QRectF(top_left, bottom_right), raster.image);
}

std::size_t MapRenderer::DrawShapes(QPainter& painter, gis::FeatureSource& layer, const Viewport& viewport,
                                    const LayerStyle& style, bool selected_only) {
    const PixelMapper map(viewport, ToMap(layer));

    // The view in the class's own coordinates.
    const QRectF shown = viewport.Shown();
    double min_x = shown.left(), min_y = shown.top(), max_x = shown.right(), max_y = shown.bottom();
    if (auto* from_map = FromMap(layer)) {
        double x0, y0, x1, y1;
        if (!from_map->TransformBounds(min_x, min_y, max_x, max_y, &x0, &y0, &x1, &y1, 21)) return 0;
        min_x = x0, min_y = y0, max_x = x1, max_y = y1;
    }
    // Without a projection, a class's unit is the map's; with one, measure in pixels.
    const double pixel = map.Projects() ? 0.0 : map.UnitsPerPixel();
    const gis::ShapeRequest request{geos::geom::Envelope(min_x, max_x, min_y, max_y), pixel, selected_only};
    const bool points = layer.ClassDimension() == gis::ShapeDimension::Point;

    // Dots once a pixel; point markers once a cell of half their size, under which
    // overlapping markers look the same.
    Coverage coverage(viewport.pixels, 1);
    Coverage marker_coverage(viewport.pixels, static_cast<int>(style.point_size / 2));
    QPolygonF dots;
    QPolygonF markers;
    QVector<QRectF> boxes;
    std::size_t drawn = 0;
    painter.setPen(style.line);
    painter.setBrush(style.fill);
    std::vector<gis::PlainPoint> traced;  // a run of a shape's bytes at a time
    layer.ReadShapes(request, [&](const gis::ShapeInView& in_view) {
        ++drawn;
        const auto& envelope = in_view.box;
        const bool point = in_view.dimension == gis::ShapeDimension::Point;
        if (in_view.sample || (point && !in_view.shape && in_view.wkb.empty())) {
            // Samples of shapes smaller than a pixel, and single points: a dot, or a marker.
            const QPointF at = map(envelope.getMinX(), envelope.getMinY());
            if (points ? marker_coverage.Mark(at) : coverage.Mark(at)) (points ? markers : dots).append(at);
            return;
        }
        if (!point && pixel > 0 && envelope.getWidth() < pixel && envelope.getHeight() < pixel) {
            const QPointF centre = map(envelope.getMinX(), envelope.getMinY());
            if (coverage.Mark(centre)) dots.append(centre);
            return;
        }
        // A few pixels across, a shape's outline is not seen: its box is, and boxes are
        // drawn together at the end, far faster than one path each.
        if (!point && pixel > 0 && envelope.getWidth() < kSmallShape * pixel &&
            envelope.getHeight() < kSmallShape * pixel) {
            const QPointF corner = map(envelope.getMinX(), envelope.getMaxY());
            boxes.append(QRectF(corner, QSizeF(envelope.getWidth() / pixel, envelope.getHeight() / pixel)));
            return;
        }
        QPainterPath path;
        const auto before = markers.size();
        bool area = in_view.dimension == gis::ShapeDimension::Area;
        if (in_view.shape) {
            AddShape(*in_view.shape, map, path, markers);
        } else {
            area = AddShapeBytes(in_view.wkb, map, path, markers, traced) || area;
        }
        for (auto index = before; index < markers.size();) {
            if (marker_coverage.Mark(markers[index])) {
                ++index;
            } else {
                markers.removeAt(index);
            }
        }
        if (path.isEmpty()) return;
        path.setFillRule(Qt::OddEvenFill);
        if (area) {
            painter.drawPath(path);
        } else {
            painter.strokePath(path, painter.pen());
        }
    });
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.drawRects(boxes);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(QPen(style.line.color(), 1.0));
    painter.drawPoints(dots);
    painter.setPen(QPen(style.line.color(), style.point_size, Qt::SolidLine, Qt::RoundCap));
    painter.drawPoints(markers);
    return drawn;
}

RenderStats MapRenderer::RenderLayers(QImage& image, const Viewport& viewport) {
    RenderStats stats;
    stats.problem = m_extent_problem;
    image.fill(Qt::white);
    if (!m_map || viewport.world.isEmpty()) return stats;
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing, true);
    ForEachVisibleBottomUp(m_map->Layers(), m_hidden, [&](platform::ILayer& layer) {
        if (auto* raster = dynamic_cast<gis::RasterLayer*>(&layer)) {
            DrawRaster(painter, *raster, viewport);
        } else if (auto* source = dynamic_cast<gis::FeatureSource*>(&layer)) {
            const QColor colour = LayerColour(m_ordinals[source->ClassIdentity()]);
            QColor fill = colour.lighter(170);
            fill.setAlpha(150);
            try {
                stats.features_drawn += DrawShapes(painter, *source, viewport, {QPen(colour, 1.0), fill, 5.0}, false);
            } catch (const platform::Error& error) {
                // A layer whose rows cannot be read is left out of the picture, and said why.
                stats.problem = layer.Name() + ": " + error.what();
            }
        }
    });
    return stats;
}

RenderStats MapRenderer::RenderSelection(QImage& image, const Viewport& viewport) {
    RenderStats stats;
    if (!m_map || viewport.world.isEmpty()) return stats;
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing, true);
    QColor fill = kSelection;
    fill.setAlpha(110);
    const LayerStyle highlight{QPen(kSelection, 2.0), fill, 7.0};
    ForEachVisibleBottomUp(m_map->Layers(), m_hidden, [&](platform::ILayer& layer) {
        if (auto* source = dynamic_cast<gis::FeatureSource*>(&layer)) {
            try {
                stats.selected_drawn += DrawShapes(painter, *source, viewport, highlight, true);
            } catch (const platform::Error& error) {
                stats.problem = layer.Name() + ": " + error.what();
            }
        }
    });
    return stats;
}

}  // namespace selvane::desktop
