#pragma once

// Where a partitioned table's rows lie: each partition a table on the coordinator itself
// or, for a foreign table of postgres_fdw, on another server, found in the coordinator's
// catalogue.

#include <string>
#include <vector>

#include "gis/postgis/source.h"

namespace selvane::gis {

/// One part of a table spread over servers.
struct ShardPlace {
    /// The server as messages name it: the foreign server's name, or "the coordinator".
    std::string server;
    /// The map's source for the server: the coordinator's own connection string with the
    /// foreign server's host, port and database in place of its own (so the user's own
    /// credentials, never the coordinator's user mappings).
    std::string source;
    /// The part's table there, schema-qualified and quoted as a map names a table.
    std::string table;
    /// The same as a person writes it ("schema.table").
    std::string display;
};

/// The parts of the partitioned table `relation` of `coordinator` when any of them is a
/// foreign table, each partition one part; empty for any other table. Throws
/// platform::Error for a foreign table of another wrapper than postgres_fdw.
std::vector<ShardPlace> ForeignShards(const PostgisSource& coordinator, const PgRelation& relation);

/// `source` ("PG:" and a connection string or URI) with `host`, `port` and `dbname` set to
/// those given (an empty one is left out, for libpq's default); throws platform::Error for
/// a source that cannot be used.
std::string SourceWithServer(const std::string& source, const std::string& host, const std::string& port,
                             const std::string& dbname);

}  // namespace selvane::gis
