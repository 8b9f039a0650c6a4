#pragma once

// The formats read without GDAL's row by row reading, by GDAL's driver name: a table whose
// source is a plain file with an id column and a geometry column is read by its format's
// own reader where there is one, and its definition query runs in SQLite where the file
// is SQLite. A new fast reader is a file of its own and a line in fast_readers.cpp.

#include <optional>
#include <string>
#include <string_view>

#include "gis/common/engine_tuning.h"
#include "gis/memory/feature_class.h"

namespace selvane::gis {

struct FastReader {
    const char* driver;
    /// Reads a table's rows straight into a class's rows; nothing when the table is better
    /// read by GDAL (which then names what cannot be read). Null: GDAL reads the rows.
    std::optional<FeatureRows> (*read_rows)(const std::string& path, const std::string& table,
                                            const std::string& fid_column, const std::string& shape_field,
                                            EngineTuning* tuning);
    /// Whether the file is an SQLite database, where a definition query runs read-only
    /// under a clock of ours.
    bool sqlite;
};

/// The fast reader of files of GDAL's `driver`; null when there is none.
const FastReader* FastReaderOf(std::string_view driver);

}  // namespace selvane::gis
