// The canvas's time to draw a map at its full extent: each layer of the document, in
// memory or in a database, through the renderer the desktop uses.
//
//   map_draw_bench MAP [WIDTH HEIGHT]
//
// Prints the time to work out the full extent, then three drawings of the layers (the
// first cold), with how many shapes (or samples) each drew.

#include <QGuiApplication>
#include <QImage>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "desktop/map_renderer.h"
#include "gis/support/gdal_session.h"
#include "gis/map_document.h"
#include "platform/error.h"

namespace {

double SecondsSince(const std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: map_draw_bench MAP [WIDTH HEIGHT]\n");
        return 2;
    }
    const QSize size(argc > 3 ? std::atoi(argv[2]) : 1200, argc > 3 ? std::atoi(argv[3]) : 800);
    using namespace selvane;
    try {
        gis::InitialiseGdal();
        const auto document = gis::LoadMap({argv[1]});
        desktop::MapRenderer renderer;
        renderer.SetMap(document->GetMap());
        auto start = std::chrono::steady_clock::now();
        const auto extent = renderer.FullExtent();
        std::printf("full extent: %.3f s\n", SecondsSince(start));
        const desktop::Viewport viewport{extent, size};
        QImage picture(size, QImage::Format_RGB32);
        for (int round = 1; round <= 3; ++round) {
            start = std::chrono::steady_clock::now();
            const auto stats = renderer.RenderLayers(picture, viewport);
            std::printf("drawing %d (%dx%d): %.3f s, %zu shapes or samples%s%s\n", round, size.width(), size.height(),
                        SecondsSince(start), stats.features_drawn, stats.problem.empty() ? "" : ", problem: ",
                        stats.problem.c_str());
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "map_draw_bench: %s\n", error.what());
        return 1;
    }
    return 0;
}
