#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "gis/postgis/connection.h"
#include "gis/postgis/feature_class.h"

namespace selvane::gis {

/// A table the catalogue found by a name a map gave.
struct PgRelation {
    std::string oid;
    std::string schema;
    std::string table;
};

/// A PostGIS database as a data source: its spatial tables, opened from the catalogue.
class PostgisSource {
public:
    /// Connects read-only to `source` ("PG:..."); throws platform::Error naming it when the
    /// server cannot be reached, refuses the login or has no PostGIS. Its tables' searches
    /// follow `tuning`, and `elsewhere` (may be empty) answers a scan's searches outside the
    /// server.
    explicit PostgisSource(const std::string& source, std::shared_ptr<EngineTuning> tuning = DefaultTuning(),
                           SearchesElsewhereMaker elsewhere = {});

    const std::string& Source() const { return m_connection->Source(); }
    const std::shared_ptr<PgConnection>& Connection() const { return m_connection; }
    /// The table `name` ("parcels", "survey.parcels") is, looked up as the user's own
    /// session would; throws platform::Error naming the source when there is none.
    PgRelation Find(const std::string& name) const;
    /// The tables with a geometry column, as layers are named after them: "parcels" in
    /// the schema public, "survey.parcels" in another.
    std::vector<std::string> FeatureTables() const;
    /// The tables of FeatureTables that LoadTable opens, by name. A database holds tables
    /// of every kind; those the map cannot use are left out here, and a map document that
    /// names one is told why.
    std::vector<std::pair<std::string, std::shared_ptr<PostgisFeatureClass>>> UsableTables() const;
    /// A table ("parcels", "public.parcels") as a feature class: its id column (the
    /// integer primary key), its first geometry column, shape type and coordinate system.
    /// Throws platform::Error for a table that is missing, has no geometry column, a shape
    /// type the map cannot hold, or no integer primary key.
    std::shared_ptr<PostgisFeatureClass> LoadTable(const std::string& table) const { return LoadTable(table, nullptr); }
    /// What is known of a table besides its catalogue, from the map or from the parts of a
    /// table spread over servers (a view, or a partitioned table over foreign tables, cannot
    /// have a primary key; the parts' rows are read from afar).
    struct KnownOfTable {
        /// The features' ids when the table has no primary key: the map's column, or each
        /// part's key. A table whose key is another column is refused.
        std::string id_column;
        std::optional<std::int32_t> srid;  // each part's, where the column declares none
    };
    std::shared_ptr<PostgisFeatureClass> LoadTable(const std::string& table, const KnownOfTable* known) const;

private:
    std::shared_ptr<PgConnection> m_connection;
    std::shared_ptr<EngineTuning> m_tuning;
    SearchesElsewhereMaker m_elsewhere;
};

}  // namespace selvane::gis
