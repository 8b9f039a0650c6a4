// Times reading a GeoPackage table straight into memory (SQLite's stepping and the parse)
// and building the index of its points, in one slice and in a slice a core, alternating.
//
//   table_read_bench FILE TABLE [REPEATS]

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "gis/files/geopackage_reader.h"
#include "gis/files/rowid_slices.h"
#include "gis/memory/row_index.h"

namespace {

using Clock = std::chrono::steady_clock;

double Milliseconds(Clock::time_point since) {
    return std::chrono::duration<double, std::milli>(Clock::now() - since).count();
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: table_read_bench FILE TABLE [REPEATS]\n");
        return 2;
    }
    const std::string path = argv[1], table = argv[2];
    const int repeats = argc > 3 ? std::atoi(argv[3]) : 7;
    std::vector<double> whole, sliced, indexed;
    std::size_t rows = 0;
    selvane::gis::EngineTuning tuning;
    for (int repeat = 0; repeat < repeats; ++repeat) {
        for (const std::size_t slices : {std::size_t{1}, std::size_t{0}}) {
            tuning.rowid_slices = slices;
            const auto start = Clock::now();
            auto read = selvane::gis::ReadGeoPackageRows(path, table, "fid", "geom", &tuning);
            (slices == 1 ? whole : sliced).push_back(Milliseconds(start));
            if (!read) {
                std::fprintf(stderr, "%s: table %s is not read by the direct reader\n", path.c_str(), table.c_str());
                return 1;
            }
            rows = read->Count();
            if (slices != 0) continue;
            const auto store = selvane::gis::RowStore::Of(std::move(*read), [&] { return table; });
            if (store.Count() > 0 && store.PlainPointAt(0)) {
                const auto index_start = Clock::now();
                const auto index = store.BuildIndex();
                indexed.push_back(Milliseconds(index_start));
            }
        }
    }
    std::printf("%zu rows; median of %d: read in one slice %.1f ms, in a slice a core %.1f ms (%zu tables in slices)",
                rows, repeats, Median(whole), Median(sliced), tuning.tables_read_in_slices.load());
    if (!indexed.empty()) std::printf("; index of points %.1f ms", Median(indexed));
    std::printf("\n");
}
