#pragma once

// Draws a map's layers into a painter: rasters and feature layers of any engine, the first
// layer of the document on top (as a layer tree reads), each layer's selection
// highlighted. Only what lies in the view is read (through each class's spatial index, in
// memory or in the server), and a shape smaller than a pixel is drawn as one dot, once per
// pixel, so that a layer of millions of features costs about as much as the pixels it
// covers.

#include <QBrush>
#include <QImage>
#include <QPainter>
#include <QPen>
#include <QRectF>
#include <QSize>

#include <map>
#include <memory>
#include <set>
#include <string>

#include "desktop/viewport.h"
#include "gis/common/feature_source.h"
#include "gis/model/layers.h"
#include "gis/model/map.h"

class OGRCoordinateTransformation;
class OGRSpatialReference;

namespace selvane::desktop {

/// Counts of one drawing, for benchmarks and tests.
struct RenderStats {
    std::size_t features_drawn = 0;  ///< features in view that the layers show
    std::size_t selected_drawn = 0;  ///< of those, the selected ones drawn highlighted
    std::string problem;             ///< why a layer could not be drawn; empty when all were
};

class MapRenderer {
public:
    MapRenderer();
    ~MapRenderer();

    /// Draws `map` from now on; forgets what was cached of the previous one.
    void SetMap(std::shared_ptr<gis::Map> map);
    const std::shared_ptr<gis::Map>& Map() const { return m_map; }

    /// Layers switched off in the layer tree (a hidden group hides its members).
    void SetVisible(const platform::ILayer* layer, bool visible);
    bool Visible(const platform::ILayer* layer) const;
    /// Changes with the map and with what is switched off: a picture of the layers drawn
    /// for another generation is out of date.
    int Generation() const { return m_generation; }

    /// The extent of every layer, in the map's coordinates; empty when there is nothing.
    QRectF FullExtent();
    /// Draws the layers into `image`, which has `viewport.pixels` as its size.
    RenderStats RenderLayers(QImage& image, const Viewport& viewport);
    /// Draws the layers' selections over a picture of the layers, in the highlight colour.
    RenderStats RenderSelection(QImage& image, const Viewport& viewport);

private:
    struct Raster {
        QImage image;
        QRectF world;
    };

    struct LayerStyle {
        QPen line;
        QBrush fill;
        double point_size;
    };
    /// Draws the shapes of `layer` in view (only the selected ones when `selected_only`);
    /// returns how many.
    std::size_t DrawShapes(QPainter& painter, gis::FeatureSource& layer, const Viewport& viewport,
                           const LayerStyle& style, bool selected_only);
    void DrawRaster(QPainter& painter, const gis::RasterLayer& layer, const Viewport& viewport);
    const Raster& RasterOf(const gis::RasterLayer& layer);
    /// The transformation from a class's coordinates into the map's; nullptr for none.
    OGRCoordinateTransformation* ToMap(const gis::FeatureSource& layer);
    OGRCoordinateTransformation* FromMap(const gis::FeatureSource& layer);
    /// The extent of the layer's class in the map's coordinates.
    QRectF ClassExtent(gis::FeatureSource& layer);

    std::shared_ptr<gis::Map> m_map;
    std::set<const platform::ILayer*> m_hidden;
    std::shared_ptr<const OGRSpatialReference> m_map_reference;
    struct Transforms {
        std::unique_ptr<OGRCoordinateTransformation> to_map;
        std::unique_ptr<OGRCoordinateTransformation> from_map;
    };
    std::map<const void*, Transforms> m_transforms;  // by class
    std::map<const gis::RasterLayer*, Raster> m_rasters;
    std::map<const void*, int> m_ordinals;  // by class
    int m_generation = 0;
    std::string m_extent_problem;  // why a layer has no extent, from the last FullExtent
};

}  // namespace selvane::desktop
