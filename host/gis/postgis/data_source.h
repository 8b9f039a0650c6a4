#pragma once

// A PostGIS database ("PG:" and a connection string) as a source of feature layers whose
// searches run in the server.

#include <memory>
#include <string>

#include "gis/common/data_source.h"

namespace selvane::gis {

std::unique_ptr<DataSource> OpenPostgisDataSource(const std::string& source);

}  // namespace selvane::gis
