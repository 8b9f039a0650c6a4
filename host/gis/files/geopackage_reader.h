#pragma once

// Reads a GeoPackage table's rows straight into GEOS: the geometry blobs through SQLite,
// each checked without recursion, their WKB through GEOS's reader, on every core, without
// GDAL's geometry objects.

#include <optional>
#include <string>

#include "gis/common/engine_tuning.h"
#include "gis/geometry/geos_include.h"
#include "gis/geometry/shape.h"
#include "gis/memory/feature_class.h"

namespace selvane::gis {

/// The rows of `table` of the GeoPackage at `path`, in the table's order, ids from
/// `fid_column` and shapes from `geometry_column`. Gives nothing when the table holds
/// what this reader does not read (curves, measures, extended types): the caller then
/// reads it through GDAL. Throws platform::Error naming the file, the table, the FID and
/// what is wrong for a row whose shape cannot be read. A large table is read in slices as
/// `tuning` says (null: one a core), and counted there.
std::optional<FeatureRows> ReadGeoPackageRows(const std::string& path, const std::string& table,
                                              const std::string& fid_column, const std::string& geometry_column,
                                              EngineTuning* tuning = nullptr);

/// One GeoPackage geometry blob ("GP", version, flags, SRS id, envelope, WKB) as a GEOS
/// shape, its structure checked before GEOS reads it. `declared` is the table's shape
/// type: a shape of another dimension is a fault. Gives nullptr for a blob that is not
/// this reader's to read (an extended type, curves, measures); throws ShapeBytesFault
/// saying what is wrong with a broken one.
std::unique_ptr<geos::geom::Geometry> ParseGeoPackageBlob(const unsigned char* blob, std::size_t size,
                                                          geos::io::WKBReader& reader,
                                                          ShapeDimension declared = ShapeDimension::Mixed);

}  // namespace selvane::gis
