#include "gis/files/file_source.h"

#include <cpl_error.h>
#include <gdal_priv.h>
#include <ogrsf_frmts.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <string_view>

#include "gis/common/definition_query.h"
#include "gis/support/gdal_session.h"
#include "gis/support/message_text.h"
#include "gis/geometry/shape.h"
#include "gis/files/fast_readers.h"
#include "gis/files/ogr_filter_process.h"
#include "gis/files/sqlite_definition_query.h"

namespace selvane::gis {
namespace {

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

// Every row of a table: ids exactly as the source gives them, shapes as WKB that GEOS reads.
FeatureRows ReadRows(GDALDataset& dataset, const std::string& path, const std::string& table) {
    GdalMessages gdal;
    OGRLayer* layer = dataset.GetLayerByName(table.c_str());
    if (!layer) throw platform::Error(platform::kFail, path + ": no table named " + table);
    const auto where = [&](std::int64_t fid) { return path + ": table " + table + ", FID " + std::to_string(fid); };

    geos::io::WKBReader reader(Shape::Factory());
    FeatureRows rows;
    // The count in a file's metadata is only a hint (and may be false): reserve no more
    // than a modest amount from it, and let the vectors grow past that.
    const auto hinted = layer->GetFeatureCount(FALSE);
    if (hinted > 0) rows.Reserve(static_cast<std::size_t>(std::min<GIntBig>(hinted, GIntBig{1} << 20)));
    std::vector<unsigned char> wkb;
    const int wkt_field = std::string(dataset.GetDriverName()) == "CSV"
                              ? layer->GetLayerDefn()->GetFieldIndex("WKT")
                              : -1;
    layer->ResetReading();
    gdal.Clear();
    for (auto& feature : *layer) {
        // The source's own ids, exactly: the ids a user sees in every other tool.
        const std::int64_t fid = feature->GetFID();
        if (gdal.Failed()) throw platform::Error(platform::kFail, where(fid) + ": the shape cannot be read: " + gdal.Text());
        OGRGeometry* geometry = feature->GetGeometryRef();
        if (!geometry) {
            // A CSV file's WKT that GDAL cannot parse (a NaN, say) comes as no shape at all.
            if (wkt_field >= 0 && feature->IsFieldSetAndNotNull(wkt_field) && *feature->GetFieldAsString(wkt_field)) {
                throw platform::Error(platform::kFail, where(fid) + ": the shape cannot be read: '" +
                                                           feature->GetFieldAsString(wkt_field) + "' is not valid WKT");
            }
            rows.AddNone(fid);
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
            throw platform::Error(platform::kFail, where(fid) + ": the shape cannot be read: " + gdal.Text());
        }
        try {
            rows.AddRead(fid, reader.read(wkb.data(), wkb.size()), wkb.data(), wkb.size());
        } catch (const geos::util::GEOSException& error) {
            throw platform::Error(platform::kFail, where(fid) + ": the shape cannot be read: " + error.what());
        }
    }
    if (gdal.Failed()) {
        throw platform::Error(platform::kFail, path + ": reading table " + table + " failed: " + gdal.Text());
    }
    return rows;
}

// GDAL's reasons, and a word on the network when an address was refused for it.
std::string Explained(const GdalMessages& gdal) {
    std::string text = gdal.Text();
    if (!NetworkAllowed() && (text.find("/vsi") != std::string::npos || text.find("://") != std::string::npos)) {
        text += " (" + NetworkOffReason() + ")";
    }
    return text;
}

}  // namespace

struct FileSource::Dataset {
    GDALDatasetUniquePtr handle;
};

FileSource::FileSource(std::string path, std::shared_ptr<EngineTuning> tuning)
    : m_path(std::move(path)), m_tuning(std::move(tuning)), m_dataset(std::make_shared<Dataset>()) {
    RequireLocalSource(m_path);
    GdalMessages gdal;
    m_dataset->handle.reset(GDALDataset::Open(m_path.c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY));
    if (!m_dataset->handle) {
        throw platform::Error(platform::kFail, m_path + ": cannot open as vector data: " +
                                                   (gdal.Failed() ? Explained(gdal) : "not a data source GDAL can read"));
    }
    // Nothing is half-loaded: a source whose tables do not all open (a damaged file in a
    // folder of shapefiles, a listed table of a damaged type, a VRT whose source is gone)
    // fails as a whole, naming what failed, instead of losing a layer without a word.
    if (gdal.Failed()) throw platform::Error(platform::kFail, m_path + ": cannot be read in full: " + Explained(gdal));
    RequireListedTablesOpen();
    // A folder opens its files as it lists them; a GeoPackage's tables are listed at once.
    const int count = m_dataset->handle->GetLayerCount();
    for (int index = 0; index < count; ++index) {
        OGRLayer* layer = m_dataset->handle->GetLayer(index);
        if (!layer || gdal.Failed()) throw TableFault(layer ? layer->GetName() : std::to_string(index + 1), gdal);
    }
}

platform::Error FileSource::TableFault(const std::string& name, const GdalMessages& gdal) const {
    const std::string reason = Explained(gdal);
    // A folder opens its files as it lists them: GDAL's words then name the culprit.
    if (reason.find(name) == std::string::npos && std::filesystem::is_directory(m_path)) {
        return platform::Error(platform::kFail, m_path + ": cannot be read in full: " + reason);
    }
    return platform::Error(platform::kFail, m_path + ": table " + name + " cannot be opened: " + reason);
}

OGRLayer& FileSource::OpenedTable(OGRLayer& layer) const {
    // GDAL reads a table's definition when it is first asked for it, and says so only
    // then: the first answer is kept, so a table that failed never seems whole later. A
    // table's definition is read only when the table is used, since GDAL looks the table up
    // among all the others to read it: a GeoPackage of ten thousand tables would take
    // minutes to open in full.
    std::lock_guard lock(m_checked_lock);
    const auto [checked, first] = m_checked.try_emplace(&layer);
    if (first) {
        GdalMessages gdal;
        layer.GetLayerDefn();
        layer.GetGeomType();
        if (gdal.Failed()) checked->second = TableFault(layer.GetName(), gdal).what();
    }
    if (!checked->second.empty()) throw platform::Error(platform::kFail, checked->second);
    return layer;
}

OGRLayer& FileSource::Table(const std::string& table) const {
    OGRLayer* layer = m_dataset->handle->GetLayerByName(table.c_str());
    if (!layer) throw platform::Error(platform::kFail, m_path + ": no table named " + table);
    return OpenedTable(*layer);
}

const FastReader* FileSource::FastReaderOfFile() const {
    // Only a plain file: GDAL's virtual files and folders are GDAL's to read.
    std::error_code ignored;
    if (!std::filesystem::is_regular_file(m_path, ignored)) return nullptr;
    return FastReaderOf(m_dataset->handle->GetDriverName());
}

void FileSource::RequireListedTablesOpen() const {
    auto& dataset = *m_dataset->handle;
    if (std::string(dataset.GetDriverName()) != "GPKG") return;
    // GDAL leaves out, without a word, a table that the contents list names but that is
    // missing or of a kind it does not know.
    OGRLayer* contents = dataset.ExecuteSQL("SELECT table_name, data_type FROM gpkg_contents", nullptr, nullptr);
    if (!contents) return;
    std::string missing;
    for (auto& row : *contents) {
        const std::string table = row->GetFieldAsString(0);
        const std::string type = row->GetFieldAsString(1);
        if (type == "tiles" || type == "2d-gridded-coverage") continue;  // rasters, not tables
        if (!dataset.GetLayerByName(table.c_str())) missing = table + " (listed as '" + type + "')";
    }
    dataset.ReleaseResultSet(contents);
    if (!missing.empty()) {
        throw platform::Error(platform::kFail, m_path + ": table " + missing +
                                                   " is in the GeoPackage's contents but cannot be opened: it is "
                                                   "missing or its type is damaged");
    }
}

FileSource::~FileSource() = default;

std::vector<std::string> FileSource::FeatureTables() const {
    std::vector<std::string> tables;
    for (auto* layer : m_dataset->handle->GetLayers()) {
        if (OpenedTable(*layer).GetLayerDefn()->GetGeomFieldCount() > 0) tables.emplace_back(layer->GetName());
    }
    return tables;
}

std::shared_ptr<MemoryFeatureClass> FileSource::LoadTable(const std::string& table) const {
    GdalMessages gdal;
    OGRLayer* layer = &Table(table);
    if (layer->GetLayerDefn()->GetGeomFieldCount() == 0) {
        throw platform::Error(platform::kFail, m_path + ": table " + table + " has no geometry column");
    }
    const char* column = layer->GetGeometryColumn();
    const std::string shape_field = (column && *column) ? column : kDefaultShapeField;
    // The rows are read when first needed; the reader keeps the source open till then.
    auto dataset = m_dataset;
    auto path = m_path;
    const char* fid = layer->GetFIDColumn();
    const FastReader* fast = fid && *fid && column && *column ? FastReaderOfFile() : nullptr;
    const auto read_rows = fast ? fast->read_rows : nullptr;
    auto feature_class = std::make_shared<MemoryFeatureClass>(
        table, shape_field, DimensionOfType(layer->GetGeomType()), SpatialReferenceOf(*layer),
        [dataset, path, table, read_rows, fid_column = std::string(fid ? fid : ""), shape_field, tuning = m_tuning] {
            if (read_rows) {
                // Straight into GEOS where the table allows it; GDAL reads the rest and
                // names what cannot be read.
                if (auto rows = read_rows(path, table, fid_column, shape_field, tuning.get())) return std::move(*rows);
            }
            return ReadRows(*dataset->handle, path, table);
        },
        m_tuning);
    feature_class->SetSourcePath(m_path);
    return feature_class;
}

ShownIds FileSource::DefinitionQueryIds(const std::string& table, const std::string& query,
                                        std::chrono::milliseconds limit) const {
    const auto failure = [&](const std::string& reason) {
        return platform::Error(platform::kFail, m_path + ": table " + table + ": " + reason);
    };
    OGRLayer* layer = &Table(table);
    GdalMessages gdal;
    auto shown = std::make_shared<std::vector<std::int64_t>>();
    const auto show = [&](std::int64_t fid) { shown->push_back(fid); };
    const auto finish = [&shown]() -> ShownIds {
        std::sort(shown->begin(), shown->end());
        return shown;
    };
    try {
        RequireSingleExpression(query);
        const char* fid_column = layer->GetFIDColumn();
        const FastReader* fast = fid_column && *fid_column ? FastReaderOfFile() : nullptr;
        if (fast && fast->sqlite) {
            // OGR hands such a filter to SQLite as it is; run it there ourselves, so that
            // it runs read-only and under a time limit.
            SelectIdsFromSqlite(m_path, layer->GetName(), fid_column, query, show, limit);
            return finish();
        }
    } catch (const platform::Error& error) {
        // The spatial SQL functions (ST_Area and the like) live in GDAL's own connection:
        // a query that uses them runs there instead.
        if (std::string(error.what()).find("no such function") == std::string::npos) throw failure(error.what());
        shown->clear();
    }
    // Other formats filter with OGR's own expression evaluator, which has no clock of its
    // own: it runs in a process of its own, ended at the limit. A GeoPackage's filter runs
    // on GDAL's SQLite connection, under the same clock.
    auto* sqlite = static_cast<sqlite3*>(m_dataset->handle->GetInternalHandle("SQLITE_HANDLE"));
    std::optional<SqliteClock> clock;
    if (sqlite) clock.emplace(sqlite, limit);
    const auto done = [&] {
        clock.reset();
        layer->SetAttributeFilter(nullptr);
        layer->SetIgnoredFields(nullptr);
    };
    if (layer->SetAttributeFilter(query.c_str()) != OGRERR_NONE) {
        done();
        throw failure("the definition query '" + InMessage(query) + "' is not valid: " + gdal.Text());
    }
    if (!sqlite) {
        // Checked here; evaluated where a clock can stop it.
        done();
        std::optional<std::vector<std::int64_t>> ids;
        try {
            ids = OgrFilterIdsWithin(m_path, layer->GetName(), query, limit);
        } catch (const platform::Error& error) {
            throw failure(error.what());
        }
        if (!ids) throw failure(StoppedQueryText(query, limit));
        for (const auto fid : *ids) show(fid);
        return finish();
    }
    const char* no_shapes[] = {"OGR_GEOMETRY", nullptr};
    layer->SetIgnoredFields(no_shapes);
    layer->ResetReading();
    for (auto& feature : *layer) show(feature->GetFID());
    const bool failed = gdal.Failed();
    const bool stopped = clock && clock->Stopped();
    done();
    if (stopped) throw failure(StoppedQueryText(query, limit));
    if (failed) throw failure("the definition query '" + InMessage(query) + "' is not valid: " + gdal.Text());
    return finish();
}

void RequireRasterSource(const std::string& path) {
    RequireLocalSource(path);
    GdalMessages gdal;
    GDALDatasetUniquePtr raster(GDALDataset::Open(path.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY));
    if (!raster) {
        throw platform::Error(platform::kFail, path + ": cannot open as a raster: " +
                                                   gdal.Text("not a raster GDAL can read"));
    }
}

}  // namespace selvane::gis
