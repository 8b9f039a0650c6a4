// The per-query-feature search loop as the selection run drives it (a new spatial filter
// and a non-recycling cursor per query feature, every hit added to a selection) against a
// bare GEOS loop (TemplateSTRtree, PreparedGeometry, ids into a vector) on the same shapes,
// in one process. Prints both times and their ratio; then the load time and peak memory
// of a 1M-point GeoPackage.
//
//   spatial_search_bench [--quick]

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include <sys/wait.h>
#include <unistd.h>

#include "bench_data.h"
#include "gis/files/file_source.h"
#include "gis/memory/feature_class.h"
#include "gis/memory/layer.h"
#include "gis/model/layers.h"
#include "gis/model/spatial_filter.h"

namespace {

using Clock = std::chrono::steady_clock;
using selvane::bench::BenchShapes;
using selvane::bench::TargetKind;

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

std::shared_ptr<selvane::gis::MemoryFeatureClass> ClassOf(const char* name, std::vector<std::unique_ptr<geos::geom::Geometry>> shapes,
                                                          selvane::gis::ShapeDimension dimension) {
    std::vector<std::int64_t> fids(shapes.size());
    for (std::size_t i = 0; i < fids.size(); ++i) fids[i] = static_cast<std::int64_t>(i + 1);
    return std::make_shared<selvane::gis::MemoryFeatureClass>(name, "geom", dimension, nullptr, std::move(fids), std::move(shapes));
}

// Bare GEOS: the same work without the map model.
std::size_t BareGeos(const BenchShapes& shapes) {
    return selvane::bench::BareGeosHits(shapes.queries, shapes.targets, "intersects").size();
}

// The run's loop over the map model.
std::size_t ModelLoop(selvane::gis::MemoryLayer& layer1, selvane::gis::MemoryLayer& layer2) {
    auto target_class = layer2.FeatureClass();
    std::size_t hits = 0;
    auto cursor = layer1.Search(nullptr, true);
    while (auto feature = cursor->NextFeature()) {
        auto filter = std::make_shared<selvane::gis::SpatialFilter>();
        filter->SetGeometry(feature->Shape());
        filter->SetSpatialRel(selvane::platform::esriSpatialRelIntersects);
        filter->SetGeometryField(target_class->ShapeFieldName());
        auto found = target_class->Search(filter, false);
        while (auto hit = found->NextFeature()) {
            layer2.Add(hit);
            ++hits;
        }
    }
    return hits;
}

void Compare(std::size_t query_count, std::size_t target_count) {
    auto shapes = selvane::bench::MakeShapes(query_count, target_count, TargetKind::Points);
    auto start = Clock::now();
    const auto bare_hits = BareGeos(shapes);
    const double bare = Seconds(start);

    auto queries = ClassOf("queries", std::move(shapes.queries), selvane::gis::ShapeDimension::Area);
    auto targets = ClassOf("targets", std::move(shapes.targets), selvane::gis::ShapeDimension::Point);
    selvane::gis::MemoryLayer layer1("queries", queries);
    selvane::gis::MemoryLayer layer2("targets", targets);
    start = Clock::now();
    const auto model_hits = ModelLoop(layer1, layer2);
    const double model = Seconds(start);

    std::printf("%7zu query polygons x %8zu points: bare GEOS %7.3f s, selection loop %7.3f s, ratio %.2f"
                "  (%zu hits, %zu selected)\n",
                query_count, target_count, bare, model, model / bare, bare_hits, layer2.Selection().Count());
    if (bare_hits != model_hits) std::printf("  MISMATCH: bare GEOS found %zu, the loop %zu\n", bare_hits, model_hits);
}

void LoadMillionPoints() {
    const auto path = (std::filesystem::temp_directory_path() / "selvane-bench-1m-points.gpkg").string();
    if (!std::filesystem::exists(path)) {
        // Written by a child process, so that the peak memory below is the load's own.
        const pid_t child = fork();
        if (child == 0) {
            auto shapes = selvane::bench::MakeShapes(10, 1000000, TargetKind::Points);
            selvane::bench::WriteGeoPackage(path, shapes, TargetKind::Points);
            std::_Exit(0);
        }
        int status = 0;
        waitpid(child, &status, 0);
    }
    const double before = selvane::bench::PeakMemoryMiB();
    const auto start = Clock::now();
    selvane::gis::FileSource source(path);
    auto points = source.LoadTable("targets");
    const double load = Seconds(start);
    const auto index_start = Clock::now();
    points->Index();
    const double index = Seconds(index_start);
    std::printf("1M-point GeoPackage: load %.2f s, index %.2f s, peak memory %.0f MiB (%.0f MiB before the load)\n", load,
                index, selvane::bench::PeakMemoryMiB(), before);
}

}  // namespace

int main(int argc, char** argv) {
    const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
    LoadMillionPoints();
    Compare(10000, 100000);
    if (!quick) Compare(100000, 1000000);
    return 0;
}
