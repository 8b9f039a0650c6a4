#include "desktop_test_support.h"

#include "state/shared_state.h"

namespace selvane::testing {

DesktopMap::DesktopMap(const std::string& resource_folder, const std::string& parcels_name) {
    const std::string path = folder.File("town.gpkg");
    WriteGeoPackage(path, {
        {"parcels", 3, 32633,
         {"POLYGON((0 0,10 0,10 10,0 10,0 0))", "POLYGON((10 0,20 0,20 10,10 10,10 0))",
          "POLYGON((20 0,30 0,30 10,20 10,20 0))"},
         {"old", "new", "old"}},
        {"wells", 1, 32633, {"POINT(5 5)", "POINT(10 5)", "POINT(25 5)", "POINT(50 50)"}, {}},
        {"roads", 2, 32633, {"LINESTRING(-5 5,15 5)"}, {}},
    });
    parcels = LoadLayer(path, "parcels", parcels_name);
    wells = LoadLayer(path, "wells", "Wells");
    roads = LoadLayer(path, "roads", "Roads");
    document = std::make_shared<gis::MxDocument>(
        std::make_shared<gis::Map>(std::vector<std::shared_ptr<platform::ILayer>>{roads, wells, parcels}));
    host = resource_folder.empty() ? std::make_unique<desktop::DesktopHost>(document)
                                   : std::make_unique<desktop::DesktopHost>(document, QString::fromStdString(resource_folder));
    host->Runtime().SetShellSink([this](std::intptr_t, const std::string& target) { opened.push_back(target); });
    host->Window().show();
}

DesktopMap::~DesktopMap() {
    host.reset();
    ProcessEvents();
}

qt::QtForm& DesktopMap::Open() {
    host->PressCommand();
    return Form();
}

qt::QtForm& DesktopMap::Form() { return dynamic_cast<qt::QtForm&>(*state::MainDialog->Form()); }

}  // namespace selvane::testing
