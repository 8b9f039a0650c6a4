#pragma once

// A QGIS vector layer's rows as a feature class of the project's own search: read through
// the layer's data provider (any provider: files, databases, web services, memory), the
// same ids and shapes that QGIS shows, searched exactly as a class read from a file is.

#include <memory>

#include "gis/memory/feature_class.h"
#include "gis/memory/layer.h"

class QgsVectorLayer;

namespace selvane::qgis {

/// The layer's source without its subset string, as a class in memory: names, shape type
/// and coordinate system now, rows on first need (read on any thread, from a snapshot of
/// the provider taken now). Call on QGIS's main thread.
std::shared_ptr<gis::MemoryFeatureClass> LoadLayerClass(QgsVectorLayer& layer);

/// The ids of the features the layer's subset string lets through, ascending; null when the
/// layer has no subset string. Throws platform::Error naming the layer when they cannot be
/// read.
gis::ShownIds SubsetIds(QgsVectorLayer& layer);

/// Whether the layer holds shapes a search can use (a vector layer with a geometry type).
bool HasShapes(const QgsVectorLayer& layer);

}  // namespace selvane::qgis
