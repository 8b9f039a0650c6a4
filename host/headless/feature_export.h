#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "gis/common/gdal_table.h"

namespace selvane::headless {

/// Writes the features `fids` of `source` (a table GDAL reads: a data file's, a
/// database's), with all their attributes, their shapes and their coordinate system, to a new file at `path` whose
/// format GDAL chooses by its extension (GeoPackage, Shapefile, GeoJSON, FlatGeobuf, CSV,
/// ...). An existing file is replaced only when `overwrite` is set. The file is written in
/// a temporary folder beside it and moved into place when complete, so that a failure
/// leaves nothing behind; the file is read back, and moved into place only when it holds
/// every feature written. No file of `read_files` (the map's own, and the files that go
/// with them) is ever replaced. Throws std::runtime_error saying what went wrong.
void ExportFeatures(const gis::GdalTable& source, const std::vector<std::int64_t>& fids, const std::string& path,
                    bool overwrite, const std::vector<std::string>& read_files);

/// Removes the temporary folder of an output being written, if any, before the program
/// ends on a signal; it waits while an output's files are being moved into place. Not for a
/// signal handler: it takes a lock.
void RemoveUnfinishedOutput() noexcept;

}  // namespace selvane::headless
