#pragma once

// Searches answered ahead. A run asks one search per Layer #1 feature, and each search
// in the server costs a round trip (about 60 µs here before any work). When the query
// shapes come from a scan of the same database, the shapes still to come are known: the
// rest of the scan's batch. One statement then answers all of them, its rows streamed
// in query order, and each search takes its own rows from that stream. Should that
// statement fail, its savepoint is rolled back and the searches go on one statement each,
// so that a failure surfaces at the search it belongs to, with the same message.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "gis/postgis_connection.h"
#include "gis/postgis_cursor.h"
#include "platform/arcobjects.h"

namespace selvane::gis {

class PostgisFeatureClass;

/// The rows of one FETCH of a full scan (object id, WKB), which its shapes point back to.
struct QueryBatch {
    QueryBatch(const PgConnection* owner, PgResult fetched, std::int32_t table_srid)
        : connection(owner), rows(std::move(fetched)), srid(table_srid) {}
    /// The shapes of rows `first` to the end as a PostgreSQL bytea[] in binary form.
    std::string ShapesFrom(std::size_t first) const;

    const PgConnection* connection;
    PgResult rows;
    std::int32_t srid;
};

/// One statement answering a batch's searches from `first` on, streamed in query order.
struct SearchAheadState {
    std::shared_ptr<const QueryBatch> batch;
    std::tuple<int, std::int32_t, std::string> key;  // relation, SRID to project from, definition query
    std::size_t first = 0;
    std::size_t last_asked = 0;
    std::size_t reading_row = 0;  // the row whose search last read from the stream
    std::unique_ptr<PgStream> stream;
    const PGresult* pending = nullptr;  // read and not handed out yet (valid until the next read)
    std::size_t pending_row = 0;
    bool ended = false;   // every row read
    bool failed = false;  // rolled back: the batch's searches ask one statement each
};

/// The features of one search taken from the statement answering ahead; when that
/// statement fails, from a statement of the search's own, leaving out what was handed out.
class SearchAheadCursor : public platform::IFeatureCursor {
public:
    using OwnStatement = std::function<std::shared_ptr<platform::IFeatureCursor>()>;
    SearchAheadCursor(std::shared_ptr<PostgisFeatureClass> owner, bool recycling, platform::esriSpatialRelEnum relation,
                      std::shared_ptr<const QueryBatch> batch, std::size_t row, OwnStatement own_statement);
    std::shared_ptr<platform::IFeature> NextFeature() override;

private:
    std::shared_ptr<platform::IFeature> FromOwnStatement();

    std::shared_ptr<PostgisFeatureClass> m_owner;
    PostgisFeatureSource m_source;
    platform::esriSpatialRelEnum m_relation;
    std::shared_ptr<const QueryBatch> m_batch;
    std::size_t m_row;
    OwnStatement m_own_statement;
    std::shared_ptr<platform::IFeatureCursor> m_own;
    std::vector<std::int64_t> m_handed_out;
    bool m_done = false;
};

}  // namespace selvane::gis
