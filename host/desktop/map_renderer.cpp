#include "desktop/map_renderer.h"

#include <gdal_priv.h>
#include <ogr_spatialref.h>

#include <QColor>
#include <QPainterPath>
#include <QPolygonF>

#include <algorithm>
#include <cmath>
#include <functional>
#include <vector>

#include "gis/common/geos_include.h"
#include "platform/error.h"

#include <geos/geom/GeometryCollection.h>
#include <geos/geom/LineString.h>
#include <geos/geom/Point.h>
#include <geos/geom/Polygon.h>

namespace selvane::qt {
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

// Maps a class's coordinates to pixels, through the map's coordinate system when the
// class has another.
class PixelMapper {
public:
    PixelMapper(const Viewport& viewport, OGRCoordinateTransformation* to_map)
        : m_shown(viewport.Shown()), m_upp(viewport.UnitsPerPixel()), m_to_map(to_map) {}

    QPointF operator()(double x, double y) const {
        if (m_to_map && !m_to_map->Transform(1, &x, &y)) return {qQNaN(), qQNaN()};
        return {(x - m_shown.left()) / m_upp, (m_shown.bottom() - y) / m_upp};
    }
    double UnitsPerPixel() const { return m_upp; }
    bool Projects() const { return m_to_map != nullptr; }

private:
    QRectF m_shown;
    double m_upp;
    OGRCoordinateTransformation* m_to_map;
};

void AddSequence(QPainterPath& path, const geos::geom::CoordinateSequence& sequence, const PixelMapper& map,
                 bool closed) {
    const std::size_t size = sequence.size();
    if (size == 0) return;
    QPolygonF polygon;
    polygon.reserve(static_cast<qsizetype>(size));
    for (std::size_t index = 0; index < size; ++index) {
        const auto& coordinate = sequence.getAt(index);
        polygon.append(map(coordinate.x, coordinate.y));
    }
    path.addPolygon(polygon);
    if (closed) path.closeSubpath();
}

// Adds a shape's outline to `path`, and its points to `points`.
void AddShape(const geos::geom::Geometry& shape, const PixelMapper& map, QPainterPath& path, QPolygonF& points) {
    using geos::geom::GeometryTypeId;
    switch (shape.getGeometryTypeId()) {
        case GeometryTypeId::GEOS_POINT: {
            const auto& point = static_cast<const geos::geom::Point&>(shape);
            if (!point.isEmpty()) points.append(map(point.getX(), point.getY()));
            break;
        }
        case GeometryTypeId::GEOS_LINESTRING:
        case GeometryTypeId::GEOS_LINEARRING:
            AddSequence(path, *static_cast<const geos::geom::LineString&>(shape).getCoordinatesRO(), map, false);
            break;
        case GeometryTypeId::GEOS_POLYGON: {
            const auto& polygon = static_cast<const geos::geom::Polygon&>(shape);
            AddSequence(path, *polygon.getExteriorRing()->getCoordinatesRO(), map, true);
            for (std::size_t ring = 0; ring < polygon.getNumInteriorRing(); ++ring) {
                AddSequence(path, *polygon.getInteriorRingN(ring)->getCoordinatesRO(), map, true);
            }
            break;
        }
        default:
            for (std::size_t part = 0; part < shape.getNumGeometries(); ++part) {
                AddShape(*shape.getGeometryN(part), map, path, points);
            }
            break;
    }
}

// One mark per cell of the picture: what falls in a cell already marked would not
// change the picture, so it is not drawn again.
class Coverage {
public:
    Coverage(QSize size, int cell)
        : m_cell(std::max(1, cell)),
          m_width(size.width() / m_cell + 1),
          m_height(size.height() / m_cell + 1),
          m_marks(static_cast<std::size_t>(m_width) * m_height, 0) {}
    bool Mark(QPointF pixel) {
        if (!(pixel.x() >= 0 && pixel.y() >= 0)) return false;  // NaN too
        const int x = static_cast<int>(pixel.x()) / m_cell;
        const int y = static_cast<int>(pixel.y()) / m_cell;
        if (x >= m_width || y >= m_height) return false;
        auto& mark = m_marks[static_cast<std::size_t>(y) * m_width + x];
        if (mark) return false;
        mark = 1;
        return true;
    }

private:
    int m_cell;
    int m_width;
    int m_height;
    std::vector<std::uint8_t> m_marks;
};

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

double Viewport::UnitsPerPixel() const {
    if (pixels.isEmpty() || world.isEmpty()) return 1.0;
    return std::max(world.width() / pixels.width(), world.height() / pixels.height());
}

QRectF Viewport::Shown() const {
    const double upp = UnitsPerPixel();
    const QPointF centre = world.center();
    const double width = pixels.width() * upp;
    const double height = pixels.height() * upp;
    return {centre.x() - width / 2, centre.y() - height / 2, width, height};
}

QPointF Viewport::ToPixel(double x, double y) const {
    const QRectF shown = Shown();
    const double upp = UnitsPerPixel();
    return {(x - shown.left()) / upp, (shown.bottom() - y) / upp};
}

QPointF Viewport::ToWorld(QPointF pixel) const {
    const QRectF shown = Shown();
    const double upp = UnitsPerPixel();
    return {shown.left() + pixel.x() * upp, shown.bottom() - pixel.y() * upp};
}

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
    std::function<void(const std::vector<std::shared_ptr<platform::ILayer>>&)> rasters =
        [&](const std::vector<std::shared_ptr<platform::ILayer>>& layers) {
            for (const auto& layer : layers) {
                if (auto raster = std::dynamic_pointer_cast<gis::RasterLayer>(layer)) {
                    const auto& world = RasterOf(*raster).world;
                    if (!world.isEmpty()) unite(world);
                }
                if (auto group = std::dynamic_pointer_cast<gis::GroupLayer>(layer)) rasters(group->Members());
            }
        };
    rasters(m_map->Layers());
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
    GDALDatasetUniquePtr dataset(GDALDataset::Open(layer.Source().c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY));
    if (!dataset || dataset->GetRasterCount() < 1) return raster;  // nothing to draw
    const int columns = dataset->GetRasterXSize();
    const int rows = dataset->GetRasterYSize();
    const double shrink = std::max(1.0, std::max(columns, rows) / static_cast<double>(kRasterSide));
    const int width = std::max(1, static_cast<int>(columns / shrink));
    const int height = std::max(1, static_cast<int>(rows / shrink));
    QImage image(width, height, QImage::Format_RGB32);
    const int bands = dataset->GetRasterCount() >= 3 ? 3 : 1;
    std::vector<std::uint8_t> values(static_cast<std::size_t>(width) * height);
    for (int band = 0; band < bands; ++band) {
        if (dataset->GetRasterBand(band + 1)->RasterIO(GF_Read, 0, 0, columns, rows, values.data(), width, height,
                                                       GDT_Byte, 0, 0) != CE_None) {
            return raster;
        }
        // The first band sets grey; the second and third then give green and blue.
        for (int y = 0; y < height; ++y) {
            auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
            for (int x = 0; x < width; ++x) {
                const int value = values[static_cast<std::size_t>(y) * width + x];
                const QRgb pixel = line[x];
                if (band == 0) line[x] = qRgb(value, value, value);
                if (band == 1) line[x] = qRgb(qRed(pixel), value, qBlue(pixel));
                if (band == 2) line[x] = qRgb(qRed(pixel), qGreen(pixel), value);
            }
        }
    }
    double transform[6] = {0, 1, 0, 0, 0, -1};
    if (dataset->GetGeoTransform(transform) != CE_None) {
        transform[3] = rows;  // an image without georeference stands at the origin
    }
    const double left = transform[0];
    const double top = transform[3];
    const double right = left + columns * transform[1];
    const double bottom = top + rows * transform[5];
    raster.world = QRectF(QPointF(std::min(left, right), std::min(top, bottom)),
                          QPointF(std::max(left, right), std::max(top, bottom)));
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
    layer.ReadShapes(request, [&](const gis::ShapeInView& in_view) {
        const auto& shape = in_view.shape;
        ++drawn;
        const auto* envelope = shape.getEnvelopeInternal();
        if (in_view.sample) {
            // Shapes smaller than a pixel, sampled by their source: a dot, or a marker.
            const QPointF at = map(envelope->getMinX(), envelope->getMinY());
            if (points ? marker_coverage.Mark(at) : coverage.Mark(at)) (points ? markers : dots).append(at);
            return;
        }
        const bool point = shape.getDimension() == geos::geom::Dimension::P;
        if (!point && pixel > 0 && envelope->getWidth() < pixel && envelope->getHeight() < pixel) {
            const QPointF centre = map(envelope->getMinX(), envelope->getMinY());
            if (coverage.Mark(centre)) dots.append(centre);
            return;
        }
        // A few pixels across, a shape's outline is not seen: its box is, and boxes are
        // drawn together at the end, far faster than one path each.
        if (!point && pixel > 0 && envelope->getWidth() < kSmallShape * pixel && envelope->getHeight() < kSmallShape * pixel) {
            const QPointF corner = map(envelope->getMinX(), envelope->getMaxY());
            boxes.append(QRectF(corner, QSizeF(envelope->getWidth() / pixel, envelope->getHeight() / pixel)));
            return;
        }
        QPainterPath path;
        const auto before = markers.size();
        AddShape(shape, map, path, markers);
        for (auto index = before; index < markers.size();) {
            if (marker_coverage.Mark(markers[index])) {
                ++index;
            } else {
                markers.removeAt(index);
            }
        }
        if (path.isEmpty()) return;
        path.setFillRule(Qt::OddEvenFill);
        if (shape.getDimension() == geos::geom::Dimension::A) {
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

}  // namespace selvane::qt
