// Writes a benchmark GeoPackage: tables "queries" (polygons) and "targets".
//
//   make_bench_data FILE.gpkg QUERIES TARGETS points|lines|cells|shifted-cells [TARGETS_PER_QUERY]

#include <cstdio>
#include <cstring>
#include <string>

#include "bench_data.h"

int main(int argc, char** argv) {
    if (argc != 5 && argc != 6) {
        std::fprintf(stderr, "usage: make_bench_data FILE.gpkg QUERIES TARGETS points|lines|cells|shifted-cells [TARGETS_PER_QUERY]\n");
        return 2;
    }
    using selvane::bench::TargetKind;
    const std::string kind_name = argv[4];
    const auto kind = kind_name == "lines"           ? TargetKind::Lines
                      : kind_name == "cells"         ? TargetKind::Cells
                      : kind_name == "shifted-cells" ? TargetKind::ShiftedCells
                                                     : TargetKind::Points;
    const std::size_t per_query = argc == 6 ? std::stoul(argv[5]) : 10;
    const auto shapes = selvane::bench::MakeShapes(std::stoul(argv[2]), std::stoul(argv[3]), kind, per_query);
    selvane::bench::WriteGeoPackage(argv[1], shapes, kind);
    return 0;
}
