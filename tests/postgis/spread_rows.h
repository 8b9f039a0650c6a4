#pragma once

// Tables spread over the three shard servers of the tests: a partitioned table on the
// coordinator (the database tests' own server) whose partitions are foreign tables of
// postgres_fdw, each row where the coordinator's hash of its id puts it.

#include <memory>
#include <string>
#include <vector>

#include "gis/common/data_source.h"
#include "test_database.h"
#include "test_support.h"

namespace selvane::testing {

/// The tables of `tables` spread over the three shard servers, in the schema `name` of
/// each (the rows in `name`_rows of the coordinator), and the same rows in a GeoPackage.
struct SpreadRows {
    SpreadRows(const std::string& name, const std::vector<TableSpec>& tables);

    /// A foreign server of postgres_fdw at the place `conninfo` names.
    void AddServer(const std::string& name, const std::string& conninfo);

    /// The layer a map document naming the coordinator's `table` gets; its connections, the
    /// parts' too, carry the schema's name as their application's.
    std::shared_ptr<platform::ILayer> Layer(const std::string& table, const std::string& definition_query = {});

    std::string schema;
    TempFolder folder;
    std::string file;
    TestDatabase coordinator;
    TestDatabase rows;
    std::vector<std::unique_ptr<TestDatabase>> shards;
    std::unique_ptr<gis::DataSource> source;
};

}  // namespace selvane::testing
