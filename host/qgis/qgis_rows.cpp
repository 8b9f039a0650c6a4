#include "qgis/qgis_rows.h"

#include <qgsabstractgeometry.h>
#include <qgscoordinatereferencesystem.h>
#include <qgscoordinatetransformcontext.h>
#include <qgsfeatureiterator.h>
#include <qgsfeaturerequest.h>
#include <qgsfeaturesource.h>
#include <qgsprovidermetadata.h>
#include <qgsproviderregistry.h>
#include <qgsvectordataprovider.h>
#include <qgsvectorlayer.h>
#include <qgswkbtypes.h>

#include <ogr_spatialref.h>

#include <QFileInfo>
#include <QSignalBlocker>

#include <algorithm>
#include <mutex>

#include "gis/geometry/shape.h"
#include "gis/wkb/wkb_outline.h"
#include "gis/files/file_source.h"
#include "platform/error.h"

namespace selvane::qgis {
namespace {

gis::ShapeDimension DimensionOf(const QgsVectorLayer& layer) {
    switch (QgsWkbTypes::geometryType(layer.wkbType())) {
        case QgsWkbTypes::PointGeometry: return gis::ShapeDimension::Point;
        case QgsWkbTypes::LineGeometry: return gis::ShapeDimension::Line;
        case QgsWkbTypes::PolygonGeometry: return gis::ShapeDimension::Area;
        default: return gis::ShapeDimension::Mixed;
    }
}

// The layer's system as GDAL knows it; null for a layer without one, taken as it is.
std::shared_ptr<const OGRSpatialReference> SpatialReferenceOf(const QgsVectorLayer& layer) {
    const QgsCoordinateReferenceSystem crs = layer.crs();
    if (!crs.isValid()) return nullptr;
    auto reference = std::shared_ptr<OGRSpatialReference>(new OGRSpatialReference(),
                                                          [](OGRSpatialReference* srs) { srs->Release(); });
    const QByteArray wkt = crs.toWkt(QgsCoordinateReferenceSystem::WKT_PREFERRED).toUtf8();
    if (reference->importFromWkt(wkt.constData()) != OGRERR_NONE) {
        throw platform::Error(platform::kFail, "Layer " + layer.name().toStdString() +
                                                   ": its coordinate system cannot be read (" + crs.authid().toStdString() + ")");
    }
    // Longitude first for geographic systems, as QGIS stores the shapes.
    reference->SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    return reference;
}

// What the class is called in messages: the provider's table and file where it names them.
struct SourceNames {
    std::string table;
    std::string file;
    std::string shape_field = gis::kDefaultShapeField;
};

SourceNames NamesOf(const QgsVectorLayer& layer) {
    SourceNames names{layer.name().toStdString(), {}};
    const QVariantMap parts = QgsProviderRegistry::instance()->decodeUri(layer.providerType(), layer.source());
    for (const char* key : {"layerName", "table"}) {
        const QString table = parts.value(QString::fromLatin1(key)).toString();
        if (!table.isEmpty()) {
            names.table = table.toStdString();
            break;
        }
    }
    const QString column = parts.value(QStringLiteral("geometryColumn")).toString();
    if (!column.isEmpty()) names.shape_field = column.toStdString();
    const QString path = parts.value(QStringLiteral("path")).toString();
    if (!path.isEmpty()) {
        names.file = path.toStdString();
        if (names.table == layer.name().toStdString() && parts.value(QStringLiteral("layerName")).isNull()) {
            names.table = QFileInfo(path).completeBaseName().toStdString();
        }
    }
    return names;
}

// Every feature of the source: ids as QGIS gives them, shapes as WKB that GEOS reads, with
// curves made straight and Z and M left out, as files are read.
gis::FeatureRows ReadRows(QgsAbstractFeatureSource& source, const std::string& where) {
    QgsFeatureRequest request;
    request.setNoAttributes();
    QgsFeatureIterator features = source.getFeatures(request);
    geos::io::WKBReader reader(gis::Shape::Factory());
    gis::FeatureRows rows;
    QgsFeature feature;
    while (features.nextFeature(feature)) {
        const std::int64_t fid = feature.id();
        if (!feature.hasGeometry()) {
            rows.AddNone(fid);
            continue;
        }
        const QgsAbstractGeometry* geometry = feature.geometry().constGet();
        std::unique_ptr<QgsAbstractGeometry> flat;
        const QgsWkbTypes::Type type = geometry->wkbType();
        if (QgsWkbTypes::isCurvedType(type) || QgsWkbTypes::hasZ(type) || QgsWkbTypes::hasM(type)) {
            flat.reset(QgsWkbTypes::isCurvedType(type) ? geometry->segmentize() : geometry->clone());
            flat->dropZValue();
            flat->dropMValue();
            geometry = flat.get();
        }
        const QByteArray wkb = geometry->asWkb();
        const auto* bytes = reinterpret_cast<const unsigned char*>(wkb.constData());
        const auto size = static_cast<std::size_t>(wkb.size());
        try {
            // Checked without recursion before GEOS's reader, which recurses, sees it.
            const auto outline = gis::OutlineWkb(bytes, size);
            rows.AddRead(fid, reader.read(bytes, outline.size), bytes, outline.size);
        } catch (const std::exception& error) {
            throw platform::Error(platform::kFail, where + ", FID " + std::to_string(fid) +
                                                       ": the shape cannot be read: " + error.what());
        }
    }
    // A provider whose source failed (a file deleted or damaged, rights revoked) ends its
    // rows early rather than saying so: rows it could not give are not an empty layer.
    if (!features.isValid() || !features.isClosed()) {
        throw platform::Error(platform::kFail, "Cannot read " + where + ": QGIS's data provider could not read its rows");
    }
    return rows;
}

// A layer's snapshot, owned by its class, which the main thread lets go when QGIS deletes
// the layer while a search thread may be about to read it.
class HeldSource {
public:
    explicit HeldSource(std::shared_ptr<QgsAbstractFeatureSource> source) : m_source(std::move(source)) {}
    ~HeldSource() { QObject::disconnect(m_layer_deleted); }
    HeldSource(const HeldSource&) = delete;
    HeldSource& operator=(const HeldSource&) = delete;

    /// Lets the snapshot go when `layer` is deleted, for as long as this lives.
    static void FollowLayer(const std::shared_ptr<HeldSource>& held, QgsMapLayer& layer) {
        held->m_layer_deleted = QObject::connect(&layer, &QgsMapLayer::willBeDeleted,
                                                 [weak = std::weak_ptr<HeldSource>(held)] {
                                                     if (const auto alive = weak.lock()) alive->Release();
                                                 });
    }
    std::shared_ptr<QgsAbstractFeatureSource> Take() const {
        const std::lock_guard lock(m_mutex);
        return m_source;
    }
    void Release() {
        std::shared_ptr<QgsAbstractFeatureSource> gone;
        {
            const std::lock_guard lock(m_mutex);
            gone.swap(m_source);
        }
    }

private:
    mutable std::mutex m_mutex;
    std::shared_ptr<QgsAbstractFeatureSource> m_source;
    QMetaObject::Connection m_layer_deleted;
};

// The source without the layer's subset string, as a snapshot any thread may read: the
// layer's own provider when it has no subset string; else a second provider opened on the
// source without it, or, for a memory layer (whose rows exist only in its provider), the
// layer's provider with the string cleared for the moment of the snapshot.
std::shared_ptr<QgsAbstractFeatureSource> WholeSource(const QgsVectorLayer& layer, QgsVectorDataProvider& provider) {
    const QString subset = provider.subsetString();
    if (subset.isEmpty()) return std::shared_ptr<QgsAbstractFeatureSource>(provider.featureSource());
    const auto refused = [&layer] {
        return platform::Error(platform::kFail, "Layer " + layer.name().toStdString() +
                                                    ": its source cannot be read without its subset string");
    };
    if (layer.providerType() == QLatin1String("memory")) {
        const QSignalBlocker quiet(&provider);
        if (!provider.setSubsetString(QString(), false)) throw refused();
        std::shared_ptr<QgsAbstractFeatureSource> source(provider.featureSource());
        provider.setSubsetString(subset, true);
        return source;
    }
    auto* registry = QgsProviderRegistry::instance();
    QVariantMap parts = registry->decodeUri(layer.providerType(), layer.source());
    parts.remove(QStringLiteral("subset"));  // files (OGR)
    parts.remove(QStringLiteral("sql"));     // databases
    const QString uri = registry->encodeUri(layer.providerType(), parts);
    QgsDataProvider::ProviderOptions options;
    options.transformContext = layer.transformContext();
    std::unique_ptr<QgsDataProvider> opened(registry->createProvider(layer.providerType(), uri, options));
    auto* whole = dynamic_cast<QgsVectorDataProvider*>(opened.get());
    if (!whole || !whole->isValid() || !whole->subsetString().isEmpty()) throw refused();
    return std::shared_ptr<QgsAbstractFeatureSource>(whole->featureSource());
}

}  // namespace

bool HasShapes(const QgsVectorLayer& layer) {
    return layer.isValid() && layer.isSpatial() && layer.dataProvider() != nullptr;
}

std::shared_ptr<gis::MemoryFeatureClass> LoadLayerClass(QgsVectorLayer& layer) {
    QgsVectorDataProvider* provider = layer.dataProvider();
    if (!provider) throw platform::Error(platform::kFail, "Layer " + layer.name().toStdString() + " has no data source");
    const std::shared_ptr<QgsAbstractFeatureSource> source = WholeSource(layer, *provider);
    const SourceNames names = NamesOf(layer);
    const std::string where = "layer " + layer.name().toStdString() + " (table " + names.table +
                              (names.file.empty() ? std::string() : ", file " + names.file) + ")";
    // The snapshot goes with the class, or sooner when QGIS deletes the layer: a class the
    // dialog still holds neither reads nor keeps what QGIS has let go (its provider's
    // connections, which QGIS closes when it exits), and the layer keeps nothing of ours.
    auto held = std::make_shared<HeldSource>(source);
    HeldSource::FollowLayer(held, layer);
    const std::string removed = "Layer " + layer.name().toStdString() + " has been removed from the project";
    auto feature_class = std::make_shared<gis::MemoryFeatureClass>(
        names.table, names.shape_field, DimensionOf(layer), SpatialReferenceOf(layer), [held, where, removed] {
            const auto snapshot = held->Take();
            if (!snapshot) throw platform::Error(platform::kFail, removed);
            return ReadRows(*snapshot, where);
        });
    feature_class->SetSourcePath(names.file);
    // Query shapes are projected into the layer's system as the project's transformations
    // say, where the user has chosen one for the pair. The context and system are copied
    // now: the chooser runs on the searching thread, which must not touch the layer, and
    // the document makes the class anew when the project's transformations change.
    feature_class->SetOperationChooser([context = layer.transformContext(), target = layer.crs()](
                                           const OGRSpatialReference& from, const OGRSpatialReference&) {
        gis::CoordinateOperation operation;
        char* wkt = nullptr;
        const char* options[] = {"FORMAT=WKT2_2019", nullptr};
        if (from.exportToWkt(&wkt, options) != OGRERR_NONE) return operation;
        const auto source_crs = QgsCoordinateReferenceSystem::fromWkt(QString::fromUtf8(wkt));
        CPLFree(wkt);
        operation.proj = context.calculateCoordinateOperation(source_crs, target).toStdString();
        operation.reverse = context.mustReverseCoordinateOperation(source_crs, target);
        return operation;
    });
    return feature_class;
}

gis::ShownIds SubsetIds(QgsVectorLayer& layer) {
    if (layer.subsetString().isEmpty()) return nullptr;
    QgsFeatureRequest request;
    request.setFlags(QgsFeatureRequest::NoGeometry);
    request.setNoAttributes();
    auto ids = std::make_shared<std::vector<std::int64_t>>();
    QgsFeatureIterator features = layer.getFeatures(request);
    QgsFeature feature;
    while (features.nextFeature(feature)) ids->push_back(feature.id());
    std::sort(ids->begin(), ids->end());
    return ids;
}

}  // namespace selvane::qgis
