#pragma once

// Any vector source GDAL reads (GeoPackages read directly) as a source of feature layers
// held in memory.

#include <memory>
#include <string>
#include <string_view>

#include "gis/common/data_source.h"

namespace selvane::gis {

/// Every text is a file, a folder or another source GDAL may read: the kind of last resort.
bool ClaimsFile(std::string_view source);
std::unique_ptr<DataSource> OpenFileDataSource(const std::string& path, const std::shared_ptr<EngineTuning>& tuning);

}  // namespace selvane::gis
