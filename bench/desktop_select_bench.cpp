// The selection run through the desktop against the same run headless, on one benchmark
// GeoPackage (make_bench_data), and the canvas's time to draw the whole map.
//
//   desktop_select_bench FILE.gpkg [RELATION]
//
// Each run is pressed as a user does: the command's button, the three picks, then
// "Select Features"; the desktop's run shows the bar and redraws the map before and after
// the search. Run it under Xvfb (QT_QPA_PLATFORM=xcb) or offscreen.

#include <QApplication>
#include <QElapsedTimer>
#include <QStyleFactory>

#include <chrono>
#include <cstdio>
#include <string>

#include "desktop/desktop_host.h"
#include "gis/map_document.h"
#include "gis/memory/layer.h"
#include "gis/model/layers.h"
#include "headless/headless_host.h"
#include "state/shared_state.h"

namespace {

using namespace selvane;

double Seconds(const std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void Pick(platform::IForm& form, const std::string& relation) {
    form.ComboBox("cboSearchLayers").SetText("targets");
    form.ComboBox("cboRelationship").SetText(relation);
    form.ComboBox("cboMapLayers").SetText("queries");
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    if (argc < 2) {
        std::fprintf(stderr, "usage: desktop_select_bench FILE.gpkg [RELATION]\n");
        return 2;
    }
    const std::string path = argv[1];
    const std::string relation = argc > 2 ? argv[2] : "INTERSECT";

    double headless_seconds = 0;
    std::string headless_count;
    {
        headless::HeadlessHost host(gis::LoadMap({path}), [](const std::string& text, const std::string&) {
            std::fprintf(stderr, "Selvane: %s\n", text.c_str());
        });
        // The desktop reads the rows and builds the index when it draws the map, before any
        // run: read and index them here too, so that both runs time the same work.
        gis::ForEachFeatureLayer(host.Document()->GetMap()->Layers(),
                                 [](gis::MemoryLayer& layer) { layer.Class()->Index(); });
        host.Press();
        auto& form = *state::MainDialog->Form();
        Pick(form, relation);
        const auto start = std::chrono::steady_clock::now();
        form.Click("btnNext");
        headless_seconds = Seconds(start);
        headless_count = form.Label("lblCount").Caption();
    }

    const auto load_start = std::chrono::steady_clock::now();
    auto document = gis::LoadMap({path});
    const double load_seconds = Seconds(load_start);
    desktop::DesktopHost host(document);
    auto& window = host.Window();
    window.resize(1000, 700);
    window.show();
    QApplication::processEvents();
    const double open_draw_seconds = window.Canvas().LastRenderSeconds();
    window.Canvas().Refresh();  // the index is built now: what a redraw costs from here on
    const double redraw_seconds = window.Canvas().LastRenderSeconds();

    host.PressCommand();
    auto& form = *state::MainDialog->Form();
    Pick(form, relation);
    const int repaints_before = window.Progress().RepaintCount();
    const auto start = std::chrono::steady_clock::now();
    form.Click("btnNext");
    const double desktop_seconds = Seconds(start);
    const std::string desktop_count = form.Label("lblCount").Caption();

    std::printf("file %s, %s\n", path.c_str(), relation.c_str());
    std::printf("open (load %.3f s) and draw the full extent: %.3f s of canvas time; a redraw: %.3f s\n", load_seconds,
                open_draw_seconds, redraw_seconds);
    std::printf("run headless: %.3f s, count %s\n", headless_seconds, headless_count.c_str());
    std::printf("run desktop:  %.3f s, count %s, %d repaints of the bar, 2 redraws of the map (the last %.3f s)\n",
                desktop_seconds, desktop_count.c_str(), window.Progress().RepaintCount() - repaints_before,
                window.Canvas().LastRenderSeconds());
    std::printf("desktop / headless: %.2f\n", desktop_seconds / headless_seconds);
    return headless_count == desktop_count ? 0 : 1;
}
