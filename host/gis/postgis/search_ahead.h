#pragma once

// Searches answered ahead. A run asks one search per Layer #1 feature, and each search in
// the server costs a round trip (about 60 µs here before any work). When the query shapes
// come from a scan of the same database, the shapes still to come are known: the rest of
// the scan's batch. Two statements then answer all of them, one half each on a connection
// of its own so that the server works on two cores, their rows streamed in query order;
// each search takes its own rows from its half's stream. Should a statement fail, the
// batch's searches go on one statement each, so that a failure surfaces at the search it
// belongs to, with the same message.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "gis/geometry/shape.h"
#include "gis/postgis/connection.h"
#include "gis/postgis/statements.h"
#include "gis/postgis/cursors.h"
#include "gis/postgis/searches_elsewhere.h"
#include "platform/arcobjects.h"

namespace selvane::gis {

class PostgisFeatureClass;

/// Query shapes known before their searches are asked: a statement answers them at once.
class AheadShapes {
public:
    virtual ~AheadShapes() = default;
    virtual std::size_t Size() const = 0;
    /// The shapes [first, end) as a PostgreSQL bytea[] of WKB in binary form.
    virtual std::string Shapes(std::size_t first, std::size_t end) const = 0;
};

/// The rows of one FETCH of a full scan (object id, WKB), which its shapes point back to.
struct QueryBatch : ShapeReading, AheadShapes {
    QueryBatch(std::shared_ptr<const PostgisFeatureClass> scanned_class, std::shared_ptr<ScanSearches> scan_searches,
               PgResult fetched);
    std::size_t Size() const override { return static_cast<std::size_t>(PQntuples(rows.get())); }
    std::string Shapes(std::size_t first, std::size_t end) const override;
    void ShapesFrom(std::size_t row, std::size_t count, std::vector<std::size_t>& rows_from,
                    std::vector<std::string>& wkb) const override;

    std::weak_ptr<const PostgisFeatureClass> scanned;  // not held: a class answering ahead holds its batch
    const PgConnection* connection;
    std::shared_ptr<ScanSearches> searches;  // shared by the scan's batches
    PgResult rows;
    std::int32_t srid;
};

/// The shapes a scan of another engine or database hands out next (ShapeReading::ShapesFrom).
class ShapesReadAhead : public AheadShapes {
public:
    /// The next `count` shapes of `reading` from its row `row` on; empty when it cannot tell.
    ShapesReadAhead(const std::shared_ptr<const ShapeReading>& reading, std::size_t row, std::size_t count);
    std::size_t Size() const override { return m_rows.size(); }
    std::string Shapes(std::size_t first, std::size_t end) const override;
    /// Where the reading's row `row` is among these shapes, if it is.
    std::optional<std::size_t> Position(const ShapeReading* reading, std::size_t row) const;

private:
    std::weak_ptr<const ShapeReading> m_reading;  // which reading, while it lives
    std::vector<std::size_t> m_rows;              // ascending
    std::vector<std::string> m_wkb;
};

/// How many shapes of another reading one statement answers ahead.
inline constexpr std::size_t kShapesReadAhead = 1024;

/// What a search is answered by: relation, SRID to project the query from (0: none) and
/// definition query.
using SearchKey = std::tuple<int, std::int32_t, std::string>;

/// One statement answering the searches of batch rows [first, end), streamed in order.
struct AheadPart {
    std::shared_ptr<PgConnection> connection;
    std::size_t first = 0;
    std::size_t end = 0;
    std::unique_ptr<PgStream> stream;
    const PGresult* pending = nullptr;  // read and not handed out yet (valid until the next read)
    std::size_t pending_row = 0;
    bool ended = false;  // every row read
};

/// The searches of one batch being answered ahead.
struct AheadBatch {
    std::shared_ptr<const AheadShapes> batch;
    SearchKey key;
    std::size_t last_asked = 0;
    std::size_t reading_row = 0;  // the row whose search last read a stream
    std::vector<AheadPart> parts;
    bool failed = false;  // the batch's searches ask one statement each
    std::weak_ptr<void> transaction;  // the scan's shared transaction the statements run in
    bool in_shared_transaction = false;
};

/// Answers a class's searches ahead, batch by batch.
class PostgisSearchAhead {
public:
    explicit PostgisSearchAhead(PostgisFeatureClass& owner) : m_owner(owner) {}
    ~PostgisSearchAhead();
    PostgisSearchAhead(const PostgisSearchAhead&) = delete;
    PostgisSearchAhead& operator=(const PostgisSearchAhead&) = delete;

    using OwnStatement = std::function<std::unique_ptr<FoundRows>()>;
    /// A cursor over the answer to the search of `row` of `batch`; nullptr when the
    /// batch's searches run one statement each (after a failure).
    std::shared_ptr<platform::IFeatureCursor> Search(const std::shared_ptr<const AheadShapes>& batch, std::size_t row,
                                                     const SearchKey& key, bool recycling, OwnStatement own_statement);

    AheadBatch* Current() { return m_current.get(); }
    /// Ends a part whose rows are all read.
    void Finish(AheadPart& part);
    /// Gives up answering ahead after a statement failed, and undoes it.
    void Fail();

private:
    void Start(const std::shared_ptr<const AheadShapes>& batch, std::size_t row, const SearchKey& key);
    void End();
    const std::string& Statement(const std::shared_ptr<PgConnection>& connection, const SearchKey& key);
    std::shared_ptr<PgConnection> Helper();

    PostgisFeatureClass& m_owner;
    std::unique_ptr<AheadBatch> m_current;
    bool m_helper_failed = false;  // the second connection cannot answer: one statement does
    std::map<std::pair<const PgConnection*, SearchKey>, std::string> m_statements;
};

/// The rows of one search taken from the statements answering ahead; when these fail, from
/// a statement of the search's own, leaving out what was handed out already.
class AheadRows : public FoundRows {
public:
    AheadRows(std::shared_ptr<PostgisFeatureClass> owner, platform::esriSpatialRelEnum relation,
              std::shared_ptr<const AheadShapes> batch, std::size_t row, PostgisSearchAhead::OwnStatement own_statement);
    std::optional<FoundRow> Next() override;

private:
    std::optional<FoundRow> FromOwnStatement();

    std::shared_ptr<PostgisFeatureClass> m_owner;
    platform::esriSpatialRelEnum m_relation;
    std::shared_ptr<const AheadShapes> m_batch;
    std::size_t m_row;
    PostgisSearchAhead::OwnStatement m_own_statement;
    std::unique_ptr<FoundRows> m_own;
    std::vector<std::int64_t> m_handed_out;
    bool m_done = false;
};

/// How many searches make a batch worth splitting over two statements.
inline constexpr std::size_t kAheadSplit = 64;

}  // namespace selvane::gis
