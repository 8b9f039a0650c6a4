#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "gis/common/engine_tuning.h"
#include "gis/files/sqlite_definition_query.h"
#include "gis/memory/feature_class.h"

class OGRLayer;

namespace selvane::gis {

struct FastReader;

class GdalMessages;

/// The name given to the shape field of formats that do not name their geometry column.
inline constexpr const char* kDefaultShapeField = "Shape";

/// A vector data source read through GDAL/OGR.
class FileSource {
public:
    /// Opens `path` read-only; its tables are read as `tuning` says. Throws platform::Error
    /// naming the file when it is missing, unreadable or not a vector source GDAL knows.
    explicit FileSource(std::string path, std::shared_ptr<EngineTuning> tuning = DefaultTuning());
    ~FileSource();
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;

    const std::string& Path() const { return m_path; }
    /// Names of the tables that hold geometry, in the source's order.
    std::vector<std::string> FeatureTables() const;
    /// A table as a feature class: its name, shape type and spatial reference now, its rows
    /// (FIDs, GEOS shapes) when first needed. Throws platform::Error for an unknown table or
    /// a table without geometry; the class throws for rows that cannot be read.
    std::shared_ptr<MemoryFeatureClass> LoadTable(const std::string& table) const;
    /// The object ids of `table` that the definition query `query` lets through, read
    /// without shapes. Throws platform::Error for a query that is refused, fails, or runs
    /// longer than `limit`.
    ShownIds DefinitionQueryIds(const std::string& table, const std::string& query,
                                std::chrono::milliseconds limit = kDefinitionQueryTimeLimit) const;

private:
    /// The fast reader of this source's format, when the source is a plain file.
    const FastReader* FastReaderOfFile() const;
    /// Throws platform::Error naming a table of a GeoPackage's contents list that GDAL
    /// leaves out.
    void RequireListedTablesOpen() const;
    /// The error saying that table `name` cannot be opened, and why.
    platform::Error TableFault(const std::string& name, const GdalMessages& gdal) const;
    /// `layer` with its definition read; throws platform::Error, every time, if it cannot be.
    OGRLayer& OpenedTable(OGRLayer& layer) const;
    /// The table named `table`, opened; throws platform::Error when there is none or it
    /// cannot be opened.
    OGRLayer& Table(const std::string& table) const;

    struct Dataset;
    std::string m_path;
    std::shared_ptr<EngineTuning> m_tuning;
    std::shared_ptr<Dataset> m_dataset;  // shared with the readers of its lazy classes
    mutable std::mutex m_checked_lock;
    mutable std::map<const OGRLayer*, std::string> m_checked;  // each table checked: why it failed, or ""
};

/// Whether GDAL opens `path` as a raster; throws platform::Error naming the file otherwise.
void RequireRasterSource(const std::string& path);

}  // namespace selvane::gis
