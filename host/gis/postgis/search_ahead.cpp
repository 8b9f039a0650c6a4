#include "gis/postgis/search_ahead.h"

#include <algorithm>

#include "gis/common/shape_errors.h"
#include "gis/geometry/spatial_relation.h"
#include "gis/postgis/feature_class.h"
#include "gis/postgis/sql.h"

namespace selvane::gis {
namespace {

void PutInt32(std::string& bytes, std::int32_t value) {
    const auto bits = static_cast<std::uint32_t>(value);
    for (int shift = 24; shift >= 0; shift -= 8) bytes.push_back(static_cast<char>((bits >> shift) & 0xFF));
}

constexpr std::int32_t kByteaOid = 17;

// `count` values as a PostgreSQL bytea[] in binary form; `value(i)` is the i-th, or null.
template <typename Value>
std::string ByteaArray(std::size_t count, const Value& value) {
    bool any_null = false;
    std::size_t size = 20;
    for (std::size_t index = 0; index < count; ++index) {
        const auto bytes = value(index);
        any_null = any_null || !bytes;
        size += 4 + (bytes ? bytes->size() : 0);
    }
    std::string array;
    array.reserve(size);
    PutInt32(array, 1);  // dimensions
    PutInt32(array, any_null ? 1 : 0);
    PutInt32(array, kByteaOid);
    PutInt32(array, static_cast<std::int32_t>(count));
    PutInt32(array, 1);  // lower bound
    for (std::size_t index = 0; index < count; ++index) {
        const auto bytes = value(index);
        if (!bytes) {
            PutInt32(array, -1);
            continue;
        }
        PutInt32(array, static_cast<std::int32_t>(bytes->size()));
        array.append(bytes->data(), bytes->size());
    }
    return array;
}

}  // namespace

QueryBatch::QueryBatch(std::shared_ptr<const PostgisFeatureClass> scanned_class,
                       std::shared_ptr<ScanSearches> scan_searches, PgResult fetched)
    : scanned(scanned_class),
      connection(scanned_class->Connection().get()),
      searches(std::move(scan_searches)),
      rows(std::move(fetched)),
      srid(scanned_class->Table().srid) {}

namespace {

std::optional<std::string_view> QueryBatchShape(const PGresult* rows, std::size_t row) {
    const int at = static_cast<int>(row);
    if (PQgetisnull(rows, at, 1)) return std::nullopt;
    return std::string_view(PQgetvalue(rows, at, 1), static_cast<std::size_t>(PQgetlength(rows, at, 1)));
}

}  // namespace

std::string QueryBatch::Shapes(std::size_t first, std::size_t end) const {
    return ByteaArray(end - first, [&](std::size_t index) { return QueryBatchShape(rows.get(), first + index); });
}

void QueryBatch::ShapesFrom(std::size_t row, std::size_t count, std::vector<std::size_t>& rows_from,
                            std::vector<std::string>& wkb) const {
    for (; row < Size() && rows_from.size() < count; ++row) {
        rows_from.push_back(row);
        const auto shape = QueryBatchShape(rows.get(), row);
        wkb.emplace_back(shape ? *shape : std::string_view());
    }
}

ShapesReadAhead::ShapesReadAhead(const std::shared_ptr<const ShapeReading>& reading, std::size_t row, std::size_t count)
    : m_reading(reading) {
    if (reading) reading->ShapesFrom(row, count, m_rows, m_wkb);
}

std::string ShapesReadAhead::Shapes(std::size_t first, std::size_t end) const {
    return ByteaArray(end - first, [&](std::size_t index) -> std::optional<std::string_view> {
        const auto& bytes = m_wkb[first + index];
        if (bytes.empty()) return std::nullopt;
        return std::string_view(bytes);
    });
}

std::optional<std::size_t> ShapesReadAhead::Position(const ShapeReading* reading, std::size_t row) const {
    const auto held = m_reading.lock();
    if (!held || held.get() != reading) return std::nullopt;
    const auto at = std::lower_bound(m_rows.begin(), m_rows.end(), row);
    if (at == m_rows.end() || *at != row) return std::nullopt;
    return static_cast<std::size_t>(at - m_rows.begin());
}

PostgisSearchAhead::~PostgisSearchAhead() { End(); }

std::shared_ptr<platform::IFeatureCursor> PostgisSearchAhead::Search(const std::shared_ptr<const AheadShapes>& batch,
                                                              std::size_t row, const SearchKey& key, bool recycling,
                                                              OwnStatement own_statement) {
    const bool same = m_current && m_current->batch == batch && m_current->key == key;
    if (same && m_current->failed) return nullptr;
    if (!same || row <= m_current->last_asked) Start(batch, row, key);
    m_current->last_asked = row;
    return std::make_shared<PostgisSearchCursor>(
        m_owner.shared_from_this(), recycling,
        std::make_unique<AheadRows>(m_owner.shared_from_this(), static_cast<platform::esriSpatialRelEnum>(std::get<0>(key)),
                                    batch, row, std::move(own_statement)));
}

std::shared_ptr<PgConnection> PostgisSearchAhead::Helper() {
    return m_helper_failed ? nullptr : m_owner.Connection()->Extra(ExtraUse::kSearches);
}

void PostgisSearchAhead::Start(const std::shared_ptr<const AheadShapes>& batch, std::size_t row, const SearchKey& key) {
    End();
    const auto& main = m_owner.Connection();
    const std::size_t end = batch->Size();
    auto helper = end - row >= kAheadSplit ? Helper() : nullptr;
    if (helper) {
        try {
            Statement(helper, key);
            // The helper reads the rows the scan reads, so that a search gives the same
            // answer whichever connection runs it; its statement stops when the scan's
            // transaction ends.
            main->ShareSnapshot(helper);
        } catch (const platform::Error&) {
            m_helper_failed = true;
            helper = nullptr;
        }
    }
    const auto& main_statement = Statement(main, key);
    m_owner.RequireColumnAsOpened();
    main->Execute("SAVEPOINT selvane_search_ahead");
    auto current = std::make_unique<AheadBatch>();
    current->batch = batch;
    current->key = key;
    current->reading_row = row;
    current->transaction = main->OpenSharedTransaction();
    current->in_shared_transaction = !current->transaction.expired();
    const std::size_t middle = helper ? row + (end - row) / 2 : end;
    current->parts.push_back({main, row, middle, nullptr, nullptr, 0, false});
    if (helper) current->parts.push_back({helper, middle, end, nullptr, nullptr, 0, false});
    for (auto& part : current->parts) {
        const auto& statement = part.connection == main ? main_statement : Statement(part.connection, key);
        part.stream = std::make_unique<PgStream>(part.connection, statement,
                                                 std::vector<PgParameter>{{batch->Shapes(part.first, part.end), true}});
    }
    m_current = std::move(current);
}

void PostgisSearchAhead::Finish(AheadPart& part) {
    part.stream.reset();
    part.pending = nullptr;
    part.ended = true;
    if (m_current && m_current->failed) return;
    try {
        if (part.connection == m_owner.Connection()) {
            if (!part.connection->Lost()) part.connection->Execute("RELEASE SAVEPOINT selvane_search_ahead");
        } else {
            part.connection->EndTransaction();
        }
    } catch (const platform::Error&) {
        // The transaction failed meanwhile; whoever uses it next starts it again.
    }
}

void PostgisSearchAhead::Fail() {
    if (!m_current) return;
    m_current->failed = true;
    for (auto& part : m_current->parts) {
        part.pending = nullptr;
        // The other half's rows are of no use now: its statement is stopped, not read out.
        if (part.stream) part.stream->Abandon();
        part.stream.reset();
        if (part.connection == m_owner.Connection()) {
            // A part that ended released its savepoint: its statement is done with, and the
            // transaction, the scan's cursor in it, goes on as it is.
            if (!part.ended) part.connection->RollbackToSavepoint("selvane_search_ahead");
        } else {
            part.connection->EndTransaction();
        }
    }
}

void PostgisSearchAhead::End() {
    if (!m_current) return;
    // A run that stopped early ended the scan's transaction: the batch's statements were
    // stopped with it, and its savepoint is gone.
    const bool transaction_ended = m_current->in_shared_transaction && m_current->transaction.expired();
    if (!m_current->failed && !transaction_ended) {
        for (auto& part : m_current->parts) {
            if (!part.ended) Finish(part);
        }
    }
    m_current.reset();
}

const std::string& PostgisSearchAhead::Statement(const std::shared_ptr<PgConnection>& connection, const SearchKey& key) {
    auto& name = m_statements[{connection.get(), key}];
    if (!name.empty()) return name;
    const auto& [relation_code, source_srid, where] = key;
    const auto relation = static_cast<platform::esriSpatialRelEnum>(relation_code);
    const auto& table = m_owner.Table();
    const std::string read = "ST_GeomFromWKB(u.b, " + std::to_string(source_srid != 0 ? source_srid : table.srid) + ")";
    const std::string shape =
        source_srid != 0 ? "ST_Transform(" + read + ", " + std::to_string(table.srid) + ")" : read;
    const std::string target = "t." + QuotedIdentifier(table.geometry_column);
    const std::string query = "q.selvane_query_shape";
    // OFFSET 0 keeps each query shape made once, not once per candidate, and whether it is
    // a large area told once.
    std::string sql = "SELECT q.selvane_query_row, t." + QuotedIdentifier(table.fid_column) + "::int8" +
                      PgValidityColumn(relation, table.dimension, target) +
                      " FROM (SELECT s.selvane_query_shape, s.selvane_query_row, " +
                      PgIsLargeArea("s.selvane_query_shape") + " AS selvane_large_area FROM (SELECT " + shape +
                      " AS selvane_query_shape, u.i AS selvane_query_row FROM unnest($1::bytea[]) WITH ORDINALITY "
                      "AS u(b, i) OFFSET 0) s OFFSET 0) q JOIN " +
                      table.Rows() + " t ON " + target + " && " + query + " AND " +
                      PgRelationSql(relation, query, target, "q.selvane_large_area");
    if (!where.empty()) sql += " AND (" + where + ")";
    sql += " ORDER BY q.selvane_query_row";
    try {
        name = connection->Prepare(sql, 1);
    } catch (const platform::Error& error) {
        m_statements.erase({connection.get(), key});
        throw platform::Error(error.Number(), "Cannot search " + m_owner.Culprit() + ": " + connection->Words(error));
    }
    return name;
}

AheadRows::AheadRows(std::shared_ptr<PostgisFeatureClass> owner, platform::esriSpatialRelEnum relation,
                     std::shared_ptr<const AheadShapes> batch, std::size_t row, PostgisSearchAhead::OwnStatement own_statement)
    : m_owner(std::move(owner)),
      m_relation(relation),
      m_batch(std::move(batch)),
      m_row(row),
      m_own_statement(std::move(own_statement)) {}

std::optional<FoundRow> AheadRows::FromOwnStatement() {
    if (!m_own) m_own = m_own_statement();
    while (auto row = m_own->Next()) {
        if (std::find(m_handed_out.begin(), m_handed_out.end(), row->fid) == m_handed_out.end()) return row;
    }
    return std::nullopt;
}

std::optional<FoundRow> AheadRows::Next() {
    if (m_own) return FromOwnStatement();
    if (m_done) return std::nullopt;
    auto* ahead = m_owner->Ahead();
    auto* current = ahead ? ahead->Current() : nullptr;
    // Another search has moved the statements past this one's rows: ask on its own.
    if (!current || current->batch != m_batch || current->failed || current->reading_row > m_row) {
        return FromOwnStatement();
    }
    AheadPart* part = nullptr;
    for (auto& candidate : current->parts) {
        if (candidate.first <= m_row && m_row < candidate.end) part = &candidate;
    }
    if (!part) return FromOwnStatement();
    if (part->ended) {
        m_done = true;
        return std::nullopt;
    }
    current->reading_row = m_row;
    while (true) {
        if (!part->pending) {
            try {
                part->pending = part->stream->Next();
            } catch (const platform::Error& error) {
                ahead->Fail();
                // A lost connection is no failure of this statement: say what the server said.
                if (m_owner->Connection()->Lost()) {
                    throw CannotEvaluateError(m_relation, m_owner->Culprit(), std::nullopt, error.what(),
                                              error.Number());
                }
                return FromOwnStatement();
            }
            if (!part->pending) {
                ahead->Finish(*part);
                m_done = true;
                return std::nullopt;
            }
            part->pending_row = part->first + static_cast<std::size_t>(PgInteger(part->pending, 0, 0)) - 1;
        }
        if (part->pending_row < m_row) {
            part->pending = nullptr;  // rows of a search nobody read
            continue;
        }
        if (part->pending_row > m_row) {
            m_done = true;
            return std::nullopt;
        }
        const PGresult* row = part->pending;
        part->pending = nullptr;
        const auto fid = PgInteger(row, 0, 1);
        if (PQnfields(row) > 2 && !PQgetisnull(row, 0, 2)) return FoundRow{fid, PQgetvalue(row, 0, 2)};
        m_handed_out.push_back(fid);
        return FoundRow{fid, nullptr};
    }
}

}  // namespace selvane::gis
