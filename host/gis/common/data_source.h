#pragma once

// Where feature layers come from: a data file, a database. A map document names a
// source by a text; the first kind of source that claims the text opens it (the list of
// kinds is in data_sources.cpp, at the top of host/gis).

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "gis/common/engine_tuning.h"
#include "platform/arcobjects.h"

namespace selvane::gis {

/// What a map document asks of a source for one layer.
struct LayerEntry {
    std::string name;
    std::string table;
    /// What the layer shows; empty: every row.
    std::string definition_query;
    /// The column whose integers are the features' object ids, for a database table with
    /// no primary key of one integer column (a view; a table spread over servers); empty:
    /// the table's key.
    std::string id_column;
    /// A table spread over servers (partitions that are foreign tables) is read through the
    /// server the source names, as one table, rather than each part on its own server:
    /// for servers the map's user cannot reach but that server can.
    bool parts_through_source = false;
    /// The sources that each hold a part of the table (the same table, columns and key on
    /// each), for rows spread over servers without a coordinator; empty: the table is the
    /// source's.
    std::vector<std::string> part_sources;
};

/// An open source of feature layers. It loads each table once, so that two layers on the
/// same table share one feature class (each keeps its own selection).
class DataSource {
public:
    virtual ~DataSource() = default;
    /// The layer `entry` asks for. Throws platform::Error for an unknown table, a query that
    /// is refused, or what the source cannot do.
    virtual std::shared_ptr<platform::ILayer> Layer(const LayerEntry& entry) = 0;
    /// A layer for every table the source holds that a map can use, named after it, in the
    /// source's order.
    virtual std::vector<std::shared_ptr<platform::ILayer>> AllLayers() = 0;
};

/// A kind of source: the texts it claims, and how it opens one.
struct DataSourceKind {
    const char* name;
    bool (*claims)(std::string_view source);
    /// Whether the text is a path, read from the map document's folder when relative.
    bool path;
    /// Opens the source, whose engines follow `tuning`; throws platform::Error naming it
    /// when it cannot be read.
    std::unique_ptr<DataSource> (*open)(const std::string& source, const std::shared_ptr<EngineTuning>& tuning);
};

}  // namespace selvane::gis
