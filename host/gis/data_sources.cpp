#include "gis/data_sources.h"

#include "gis/copy/table_copies.h"
#include "gis/files/file_data_source.h"
#include "gis/postgis/connection.h"
#include "gis/postgis/data_source.h"
#include "gis/shards/sharded_data_source.h"

namespace selvane::gis {
namespace {

// A PostGIS source whose scans' searches may be answered from copies in memory, and whose
// tables may be spread over other servers.
std::unique_ptr<DataSource> OpenPostgis(const std::string& source, const std::shared_ptr<EngineTuning>& tuning) {
    return OpenShardedPostgisDataSource(source, tuning, TableCopies());
}

// A new kind of source is a file of its own that opens it, and a line here. Files come
// last: GDAL reads whatever the others do not claim.
constexpr DataSourceKind kKinds[] = {
    {"PostGIS", IsDatabaseSource, false, OpenPostgis},
    {"file", ClaimsFile, true, OpenFileDataSource},
};

}  // namespace

const DataSourceKind& KindOfSource(std::string_view source) {
    for (const auto& kind : kKinds) {
        if (kind.claims(source)) return kind;
    }
    return kKinds[std::size(kKinds) - 1];
}

}  // namespace selvane::gis
