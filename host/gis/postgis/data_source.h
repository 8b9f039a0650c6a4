#pragma once

// A PostGIS database ("PG:" and a connection string) as a source of feature layers whose
// searches run in the server.

#include <memory>
#include <string>

#include "gis/common/data_source.h"
#include "gis/common/engine_tuning.h"
#include "gis/postgis/searches_elsewhere.h"

namespace selvane::gis {

/// `elsewhere` (may be empty) answers a scan's searches outside the server.
std::unique_ptr<DataSource> OpenPostgisDataSource(const std::string& source, std::shared_ptr<EngineTuning> tuning,
                                                  SearchesElsewhereMaker elsewhere);

}  // namespace selvane::gis
