#pragma once

#include <memory>
#include <string>
#include <vector>

#include "gis/feature_class.h"

namespace selvane::gis {

/// The name given to the shape field of formats that do not name their geometry column.
inline constexpr const char* kDefaultShapeField = "Shape";

/// A vector data source read through GDAL/OGR.
class VectorSource {
public:
    /// Opens `path` read-only. Throws platform::Error naming the file when it is missing,
    /// unreadable or not a vector source GDAL knows.
    explicit VectorSource(std::string path);
    ~VectorSource();
    VectorSource(const VectorSource&) = delete;
    VectorSource& operator=(const VectorSource&) = delete;

    const std::string& Path() const { return m_path; }
    /// Names of the tables that hold geometry, in the source's order.
    std::vector<std::string> FeatureTables() const;
    /// Loads a table into memory: FIDs, GEOS shapes, spatial reference. Throws
    /// platform::Error for an unknown table, a table without geometry or a read failure.
    std::shared_ptr<FeatureClass> LoadTable(const std::string& table) const;
    /// The rows of `feature_class` (loaded from `table`) that the OGR attribute filter
    /// `query` lets through. Throws platform::Error for a query OGR refuses.
    RowMask DefinitionQueryRows(const std::string& table, const std::string& query,
                                const FeatureClass& feature_class) const;

private:
    /// Throws platform::Error naming a table of a GeoPackage's contents list that GDAL
    /// leaves out.
    void RequireListedTablesOpen() const;

    struct Dataset;
    std::string m_path;
    std::unique_ptr<Dataset> m_dataset;
};

/// Whether GDAL opens `path` as a raster; throws platform::Error naming the file otherwise.
void RequireRasterSource(const std::string& path);

}  // namespace selvane::gis
