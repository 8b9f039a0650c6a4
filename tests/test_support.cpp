#include "test_support.h"

#include <gdal_priv.h>
#include <ogrsf_frmts.h>

#include <sys/wait.h>

#include <array>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <unistd.h>

#include <geos/geom/IntersectionMatrix.h>

#include "gis/files/file_source.h"
#include "gis/memory/layer.h"
#include "support/Tollamar_ArcMap.h"

namespace selvane::testing {

TempFolder::TempFolder() {
    static std::atomic<int> counter{0};
    m_path = std::filesystem::temp_directory_path() /
             ("selvane-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
    std::filesystem::remove_all(m_path);
    std::filesystem::create_directories(m_path);
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

void WriteGeoPackage(const std::string& path, const std::vector<TableSpec>& tables) {
    GDALAllRegister();
    auto* driver = GetGDALDriverManager()->GetDriverByName("GPKG");
    ASSERT_NE(driver, nullptr);
    GDALDatasetUniquePtr dataset(driver->Create(path.c_str(), 0, 0, 0, GDT_Unknown, nullptr));
    ASSERT_NE(dataset, nullptr) << CPLGetLastErrorMsg();
    for (const auto& table : tables) {
        std::unique_ptr<OGRSpatialReference, void (*)(OGRSpatialReference*)> srs(
            nullptr, [](OGRSpatialReference* reference) { reference->Release(); });
        if (table.epsg != 0) {
            srs.reset(new OGRSpatialReference());
            srs->importFromEPSG(table.epsg);
            srs->SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
        }
        char** options = CSLSetNameValue(nullptr, "GEOMETRY_NAME", "geom");
        options = CSLSetNameValue(options, "SPATIAL_INDEX", "NO");
        OGRLayer* layer = dataset->CreateLayer(table.name.c_str(), srs.get(),
                                               static_cast<OGRwkbGeometryType>(table.geometry_type), options);
        CSLDestroy(options);
        ASSERT_NE(layer, nullptr) << CPLGetLastErrorMsg();
        OGRFieldDefn zone("zone", OFTString);
        ASSERT_EQ(layer->CreateField(&zone), OGRERR_NONE);
        dataset->StartTransaction();
        for (std::size_t index = 0; index < table.shapes.size(); ++index) {
            OGRFeature feature(layer->GetLayerDefn());
            if (!table.shapes[index].empty()) {
                OGRGeometry* geometry = nullptr;
                ASSERT_EQ(OGRGeometryFactory::createFromWkt(table.shapes[index].c_str(), srs.get(), &geometry),
                          OGRERR_NONE)
                    << table.shapes[index];
                feature.SetGeometryDirectly(geometry);
            }
            if (index < table.zones.size()) feature.SetField("zone", table.zones[index].c_str());
            ASSERT_EQ(layer->CreateFeature(&feature), OGRERR_NONE);
        }
        dataset->CommitTransaction();
    }
}

const std::shared_ptr<gis::EngineTuning>& TestTuning() {
    static const auto tuning = gis::DefaultTuning();
    return tuning;
}

std::shared_ptr<gis::MemoryLayer> LoadLayer(const std::string& path, const std::string& table,
                                            const std::string& name, const std::string& definition_query) {
    gis::FileSource source(path, TestTuning());
    auto feature_class = source.LoadTable(table);
    gis::ShownIds shown;
    if (!definition_query.empty()) shown = source.DefinitionQueryIds(table, definition_query);
    return std::make_shared<gis::MemoryLayer>(name.empty() ? table : name, feature_class, shown, definition_query);
}

std::map<std::int64_t, std::string> Features(const std::string& path, std::string* system, const char* table) {
    GDALDatasetUniquePtr dataset(GDALDataset::Open(path.c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY));
    std::map<std::int64_t, std::string> features;
    if (!dataset) return features;
    auto* layer = table ? dataset->GetLayerByName(table) : dataset->GetLayer(0);
    for (auto& feature : *layer) {
        std::string text;
        for (int field = 0; field < feature->GetFieldCount(); ++field) {
            if (std::string(feature->GetFieldDefnRef(field)->GetNameRef()) == "WKT") continue;
            text += std::string(feature->GetFieldAsString(field)) + "|";
        }
        char* wkt = nullptr;
        if (feature->GetGeometryRef()) feature->GetGeometryRef()->exportToWkt(&wkt);
        text += wkt ? wkt : "";
        CPLFree(wkt);
        features[feature->GetFID()] = text;
    }
    if (system && layer->GetSpatialRef()) {
        const char* code = layer->GetSpatialRef()->GetAuthorityCode(nullptr);
        *system = code ? code : layer->GetSpatialRef()->GetName();
    }
    return features;
}

HostedMap::HostedMap(std::vector<std::shared_ptr<platform::ILayer>> layers, console::ScreenSettings screen)
    : map(std::make_shared<gis::Map>(std::move(layers))),
      document(std::make_shared<gis::MxDocument>(map)),
      host(std::make_unique<headless::HeadlessHost>(document, messages.Sink(), screen)) {}

platform::IForm& HostedMap::Open() {
    host->Press();
    return *host->Dialog()->Form();
}

void HostedMap::Select(const std::string& layer2, const std::string& relation, const std::string& layer1) {
    auto& form = *host->Dialog()->Form();
    form.ComboBox("cboSearchLayers").SetText(layer2);
    form.ComboBox("cboRelationship").SetText(relation);
    form.ComboBox("cboMapLayers").SetText(layer1);
    form.Click("btnNext");
}

std::string HostedMap::Count() { return host->Dialog()->Form()->Label("lblCount").Caption(); }

Run RunSelvane(const std::string& arguments, const std::string& shell_prefix) {
    return RunShell(shell_prefix + SELVANE_BINARY + " " + arguments);
}

RunOutcome RunOn(std::vector<std::shared_ptr<platform::ILayer>> layers, const std::string& layer2,
                 const std::string& relation, const std::string& layer1) {
    HostedMap hosted(std::move(layers));
    hosted.Open();
    hosted.Select(layer2, relation, layer1);
    RunOutcome outcome;
    for (const auto& layer : hosted.map->Layers()) {
        auto selectable = std::dynamic_pointer_cast<gis::SelectableLayer>(layer);
        if (selectable && selectable->Name() == layer2) outcome.ids = selectable->SelectedFids();
    }
    outcome.messages = hosted.messages.texts;
    outcome.count = hosted.Count();
    return outcome;
}

Run RunShell(const std::string& command_line) {
    TempFolder folder;
    const auto err_path = folder.File("err.txt");
    const std::string command = command_line + " 2>" + err_path;
    Run run;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return run;
    std::array<char, 4096> buffer{};
    while (std::fgets(buffer.data(), buffer.size(), pipe)) run.out += buffer.data();
    const int status = ::pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ifstream err(err_path);
    run.err.assign(std::istreambuf_iterator<char>(err), {});
    return run;
}

std::string ShellQuoted(const std::string& text) {
    std::string quoted = "'";
    for (const char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

bool FullRelate(platform::esriSpatialRelEnum relation, const geos::geom::Geometry& query,
                const geos::geom::Geometry& target) {
    if (relation == platform::esriSpatialRelEnvelopeIntersects) {
        return query.getEnvelopeInternal()->intersects(target.getEnvelopeInternal());
    }
    const auto matrix = query.relate(&target);
    const int a = query.getDimension(), b = target.getDimension();
    switch (relation) {
        case platform::esriSpatialRelIntersects: return matrix->isIntersects();
        case platform::esriSpatialRelTouches: return matrix->isTouches(a, b);
        case platform::esriSpatialRelOverlaps: return matrix->isOverlaps(a, b);
        case platform::esriSpatialRelCrosses: return matrix->isCrosses(a, b);
        case platform::esriSpatialRelWithin: return matrix->isWithin();
        case platform::esriSpatialRelContains: return matrix->isContains();
        default: return false;
    }
}

}  // namespace selvane::testing
