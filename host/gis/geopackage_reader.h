#pragma once

// Reads a GeoPackage table's rows straight into GEOS: the geometry blobs through SQLite,
// their WKB through GEOS's reader, on every core, without GDAL's geometry objects.

#include <optional>
#include <string>

#include "gis/feature_class.h"
#include "gis/geos_include.h"

namespace selvane::gis {

/// The rows of `table` of the GeoPackage at `path`, in the table's order, ids from
/// `fid_column` and shapes from `geometry_column`. Gives nothing when the table holds
/// what this reader does not read (curves, measures, extended types, an unreadable
/// blob): the caller then reads it through GDAL, which names the culprit.
std::optional<FeatureRows> ReadGeoPackageRows(const std::string& path, const std::string& table,
                                              const std::string& fid_column, const std::string& geometry_column);

/// One GeoPackage geometry blob ("GP", version, flags, SRS id, envelope, WKB) as a GEOS
/// shape; nullptr when it is not one the reader reads. Throws GEOS's exception for WKB
/// that GEOS cannot parse.
std::unique_ptr<geos::geom::Geometry> ParseGeoPackageBlob(const unsigned char* blob, std::size_t size,
                                                          geos::io::WKBReader& reader);

}  // namespace selvane::gis
