#include "gis/ogr_source.h"

#include <cpl_error.h>
#include <gdal_priv.h>
#include <ogrsf_frmts.h>

#include <filesystem>
#include <string_view>

#include "gis/shape.h"

namespace selvane::gis {
namespace {

// Keeps GDAL's own error printing quiet while we turn its errors into messages.
class QuietGdalErrors {
public:
    QuietGdalErrors() {
        CPLPushErrorHandler(CPLQuietErrorHandler);
        CPLErrorReset();
    }
    ~QuietGdalErrors() { CPLPopErrorHandler(); }
    QuietGdalErrors(const QuietGdalErrors&) = delete;
    QuietGdalErrors& operator=(const QuietGdalErrors&) = delete;
};

std::string GdalReason() {
    const char* message = CPLGetLastErrorMsg();
    return (message && *message) ? message : "not a data source GDAL can read";
}

void RequireReadableFile(const std::string& path) {
    std::error_code error;
    if (!std::filesystem::exists(path, error)) throw platform::Error(platform::kFail, path + ": no such file");
    if (std::filesystem::is_directory(path, error)) return;  // a folder of shapefiles, say
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) throw platform::Error(platform::kFail, path + ": the file cannot be read");
    std::fclose(file);
}

ShapeDimension DimensionOfType(OGRwkbGeometryType type) {
    switch (wkbFlatten(type)) {
        case wkbPoint:
        case wkbMultiPoint: return ShapeDimension::Point;
        case wkbLineString:
        case wkbMultiLineString:
        case wkbCircularString:
        case wkbCompoundCurve:
        case wkbMultiCurve: return ShapeDimension::Line;
        case wkbPolygon:
        case wkbMultiPolygon:
        case wkbCurvePolygon:
        case wkbMultiSurface:
        case wkbTriangle:
        case wkbTIN:
        case wkbPolyhedralSurface: return ShapeDimension::Area;
        default: return ShapeDimension::Mixed;
    }
}

std::shared_ptr<const OGRSpatialReference> SpatialReferenceOf(OGRLayer& layer) {
    const OGRSpatialReference* reference = layer.GetSpatialRef();
    // GeoPackage writes "Undefined geographic SRS" (or cartesian) for data without a
    // coordinate system; such data, like local systems, is taken as it is.
    if (!reference || reference->IsLocal() || reference->IsEmpty()) return nullptr;
    const char* name = reference->GetName();
    if (name && std::string_view(name).starts_with("Undefined ") && !reference->GetAuthorityCode(nullptr)) {
        return nullptr;
    }
    std::shared_ptr<OGRSpatialReference> copy(reference->Clone(), [](OGRSpatialReference* srs) { srs->Release(); });
    // Longitude first for geographic systems, as the data is stored.
    copy->SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    return copy;
}

}  // namespace

struct VectorSource::Dataset {
    GDALDatasetUniquePtr handle;
};

VectorSource::VectorSource(std::string path) : m_path(std::move(path)), m_dataset(std::make_unique<Dataset>()) {
    RequireReadableFile(m_path);
    QuietGdalErrors quiet;
    GDALAllRegister();
    m_dataset->handle.reset(GDALDataset::Open(m_path.c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY));
    if (!m_dataset->handle) throw platform::Error(platform::kFail, m_path + ": cannot open as vector data: " + GdalReason());
}

VectorSource::~VectorSource() = default;

std::vector<std::string> VectorSource::FeatureTables() const {
    std::vector<std::string> tables;
    for (auto* layer : m_dataset->handle->GetLayers()) {
        if (layer->GetLayerDefn()->GetGeomFieldCount() > 0) tables.emplace_back(layer->GetName());
    }
    return tables;
}

std::shared_ptr<FeatureClass> VectorSource::LoadTable(const std::string& table) const {
    QuietGdalErrors quiet;
    OGRLayer* layer = m_dataset->handle->GetLayerByName(table.c_str());
    if (!layer) throw platform::Error(platform::kFail, m_path + ": no table named " + table);
    if (layer->GetLayerDefn()->GetGeomFieldCount() == 0) {
        throw platform::Error(platform::kFail, m_path + ": table " + table + " has no geometry column");
    }
    const char* column = layer->GetGeometryColumn();
    const std::string shape_field = (column && *column) ? column : kDefaultShapeField;

    geos::io::WKBReader reader(Shape::Factory());
    std::vector<std::int64_t> fids;
    std::vector<std::unique_ptr<geos::geom::Geometry>> shapes;
    const auto expected = layer->GetFeatureCount(FALSE);
    if (expected > 0) {
        fids.reserve(static_cast<std::size_t>(expected));
        shapes.reserve(static_cast<std::size_t>(expected));
    }
    std::vector<unsigned char> wkb;
    layer->ResetReading();
    CPLErrorReset();
    for (auto& feature : *layer) {
        const auto fid = feature->GetFID();
        fids.push_back(fid == OGRNullFID ? static_cast<std::int64_t>(fids.size()) : fid);
        OGRGeometry* geometry = feature->GetGeometryRef();
        if (!geometry) {
            shapes.emplace_back();
            continue;
        }
        std::unique_ptr<OGRGeometry> linear;
        if (geometry->hasCurveGeometry()) {
            linear.reset(geometry->getLinearGeometry());
            geometry = linear.get();
        }
        geometry->set3D(FALSE);
        geometry->setMeasured(FALSE);
        wkb.resize(static_cast<std::size_t>(geometry->WkbSize()));
        if (geometry->exportToWkb(wkbNDR, wkb.data(), wkbVariantIso) != OGRERR_NONE) {
            throw platform::Error(platform::kFail, m_path + ": table " + table + ", FID " + std::to_string(fid) +
                                                       ": the shape cannot be read");
        }
        try {
            shapes.push_back(reader.read(wkb.data(), wkb.size()));
        } catch (const geos::util::GEOSException& error) {
            throw platform::Error(platform::kFail, m_path + ": table " + table + ", FID " + std::to_string(fid) +
                                                       ": " + error.what());
        }
    }
    if (CPLGetLastErrorType() >= CE_Failure) {
        throw platform::Error(platform::kFail, m_path + ": reading table " + table + " failed: " + GdalReason());
    }
    return std::make_shared<FeatureClass>(table, shape_field, DimensionOfType(layer->GetGeomType()),
                                          SpatialReferenceOf(*layer), std::move(fids), std::move(shapes));
}

RowMask VectorSource::DefinitionQueryRows(const std::string& table, const std::string& query,
                                          const FeatureClass& feature_class) const {
    QuietGdalErrors quiet;
    OGRLayer* layer = m_dataset->handle->GetLayerByName(table.c_str());
    if (!layer) throw platform::Error(platform::kFail, m_path + ": no table named " + table);
    if (layer->SetAttributeFilter(query.c_str()) != OGRERR_NONE) {
        throw platform::Error(platform::kFail, m_path + ": table " + table + ": the definition query '" + query +
                                                   "' is not valid: " + GdalReason());
    }
    auto shown = std::make_shared<std::vector<bool>>(feature_class.RowCount(), false);
    const auto& rows = feature_class.RowsByFid();
    layer->ResetReading();
    for (auto& feature : *layer) {
        const auto found = rows.find(feature->GetFID());
        if (found != rows.end()) (*shown)[found->second] = true;
    }
    const bool failed = CPLGetLastErrorType() >= CE_Failure;
    layer->SetAttributeFilter(nullptr);
    if (failed) {
        throw platform::Error(platform::kFail, m_path + ": table " + table + ": the definition query '" + query +
                                                   "' is not valid: " + GdalReason());
    }
    return shown;
}

void RequireRasterSource(const std::string& path) {
    RequireReadableFile(path);
    QuietGdalErrors quiet;
    GDALAllRegister();
    GDALDatasetUniquePtr raster(GDALDataset::Open(path.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY));
    if (!raster) throw platform::Error(platform::kFail, path + ": cannot open as a raster: " + GdalReason());
}

}  // namespace selvane::gis
