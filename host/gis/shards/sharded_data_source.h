#pragma once

// A PostGIS database whose partitioned tables may be spread over other servers (foreign
// tables of postgres_fdw): such a table's layer searches each part on its own server;
// every other table is the PostGIS source's.

#include <memory>
#include <string>

#include "gis/common/data_source.h"
#include "gis/postgis/searches_elsewhere.h"

namespace selvane::gis {

std::unique_ptr<DataSource> OpenShardedPostgisDataSource(const std::string& source, std::shared_ptr<EngineTuning> tuning,
                                                         SearchesElsewhereMaker elsewhere);

}  // namespace selvane::gis
