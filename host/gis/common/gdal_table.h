#pragma once

// Where GDAL reads a class's features with all their attributes, by the ids the map gives
// them: what a selection is written out from, whichever engine holds the class.

#include <string>
#include <vector>

namespace selvane::gis {

struct GdalTable {
    /// What GDAL opens: a data file, or "PG:" and a connection string. Empty: the class was
    /// read from nothing GDAL opens.
    std::string source;
    std::string table;
    /// GDAL's open options for `source` ("TABLES=schema.table").
    std::vector<std::string> open_options;
    /// When set, features are read by their ids in blocks, a filter on this column each,
    /// since each read of one feature costs the source a round trip (a database); empty:
    /// one by one, as a file's index finds each.
    std::string id_column;
    /// The class in error texts.
    std::string culprit;
    /// GDAL's database drivers take a table's primary key as its features' ids; a table that
    /// cannot have one (a partitioned table over foreign tables) has `id_column` taken instead.
    bool ids_without_key = false;
};

}  // namespace selvane::gis
