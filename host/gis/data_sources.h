#pragma once

// The kinds of data source a map reads, in the order they are asked.

#include <string_view>

#include "gis/common/data_source.h"

namespace selvane::gis {

/// The first kind of source that claims `source`.
const DataSourceKind& KindOfSource(std::string_view source);

}  // namespace selvane::gis
