#include "gis/postgis/cursors.h"

#include <algorithm>

#include "gis/common/shape_errors.h"
#include "gis/geometry/spatial_relation.h"
#include "gis/postgis/search_ahead.h"

namespace selvane::gis {

std::shared_ptr<platform::IFeature> PostgisFeatureMaker::At(std::int64_t fid,
                                                            std::optional<std::shared_ptr<Shape>> shape) {
    if (!m_recycling) return std::make_shared<PostgisFeature>(m_owner, fid, std::move(shape));
    if (!m_recycled) {
        m_recycled = std::make_shared<PostgisFeature>(m_owner, fid, std::move(shape));
    } else {
        m_recycled->MoveTo(fid, std::move(shape));
    }
    return m_recycled;
}

PostgisSearchCursor::PostgisSearchCursor(std::shared_ptr<const PostgisFeatureClass> owner, bool recycling,
                                         std::unique_ptr<FoundRows> rows)
    : m_source(std::move(owner), recycling), m_rows(std::move(rows)) {}

std::shared_ptr<platform::IFeature> PostgisSearchCursor::NextFeature() {
    const auto row = m_rows->Next();
    if (!row) return nullptr;
    if (row->invalid_reason) throw InvalidShapeError(m_source.Owner().Culprit(), row->fid, row->invalid_reason);
    return m_source.At(row->fid, std::nullopt);
}

StatementRows::StatementRows(std::shared_ptr<const PostgisFeatureClass> owner, platform::esriSpatialRelEnum relation,
                             std::unique_ptr<PgStream> stream)
    : m_owner(std::move(owner)), m_relation(relation), m_stream(std::move(stream)) {}

std::optional<FoundRow> StatementRows::Next() {
    const PGresult* row = nullptr;
    try {
        row = m_stream->Next();
    } catch (const platform::Error& error) {
        throw CannotEvaluateError(m_relation, m_owner->Culprit(), std::nullopt, error.what(), error.Number());
    }
    if (!row) return std::nullopt;
    const bool invalid = PQnfields(row) > 1 && !PQgetisnull(row, 0, 1);
    return FoundRow{PgInteger(row, 0, 0), invalid ? PQgetvalue(row, 0, 1) : nullptr};
}

PostgisScanCursor::PostgisScanCursor(std::shared_ptr<const PostgisFeatureClass> owner, bool recycling,
                                     const std::string& where)
    : m_source(std::move(owner), recycling), m_connection(m_source.Owner().Connection()) {
    const auto& table = m_source.Owner().Table();
    const auto geometry = "t." + QuotedIdentifier(table.geometry_column);
    std::string sql = "SELECT t." + QuotedIdentifier(table.fid_column) + "::int8, ST_AsBinary(ST_Force2D(" +
                      geometry + ")) FROM " + table.Rows() + " t";
    if (!where.empty()) sql += " WHERE (" + where + ")";
    // A cursor without hold lives in a transaction; searches of the same connection run in
    // it too while the scan goes on.
    m_transaction = m_connection->SharedTransaction();
    m_cursor = m_connection->NewCursorName();
    try {
        m_source.Owner().RequireColumnAsOpened();
        m_connection->Execute("DECLARE " + m_cursor + " NO SCROLL CURSOR FOR " + sql);
    } catch (const platform::Error& error) {
        throw platform::Error(error.Number(), "Cannot read " + m_source.Owner().Culprit() + ": " + m_connection->Words(error));
    }
}

PostgisScanCursor::~PostgisScanCursor() {
    // The transaction's last holder leaves the cursor to the transaction's end, which
    // closes it and stops any statement answering searches ahead instead of reading it out.
    if (m_done || m_connection->Lost() || PgConnection::LastHolder(m_transaction)) return;
    try {
        m_connection->Execute("CLOSE " + m_cursor);
    } catch (...) {
        // An aborted transaction has closed it already; the transaction's end rolls back.
    }
}

std::string PostgisScanCursor::Fetch() const {
    return "FETCH FORWARD " + std::to_string(kScanBatchRows) + " FROM " + m_cursor;
}

bool PostgisScanCursor::SearchedElsewhere() const {
    return m_searches && m_searches->AllAnsweredElsewhere();
}

std::shared_ptr<platform::IFeature> PostgisScanCursor::NextFeature() {
    if (m_done) return nullptr;
    if (!m_batch || m_next >= PQntuples(m_batch->rows.get())) {
        try {
            // A batch of its own, not reused: shapes handed out refer to it.
            if (!m_searches) {
                m_searches = std::make_shared<ScanSearches>();
                m_searches->expected_rows = m_source.Owner().CountedRows().value_or(0);
            }
            auto fetched = m_next_batch ? m_next_batch->Take() : m_connection->Execute(Fetch(), {}, true);
            m_next_batch.reset();
            m_next_batch_asked = false;
            m_batch = std::make_shared<QueryBatch>(m_source.Owner().shared_from_this(), m_searches, std::move(fetched));
        } catch (const platform::Error& error) {
            throw platform::Error(error.Number(), "Cannot read " + m_source.Owner().Culprit() + ": " + m_connection->Words(error));
        }
        m_next = 0;
        if (PQntuples(m_batch->rows.get()) == 0) {
            m_done = true;
            m_batch.reset();
            try {
                m_connection->Execute("CLOSE " + m_cursor);
            } catch (const platform::Error&) {
            }
            return nullptr;
        }
    }
    // Once the batch's searches are known to be answered outside the server (the first
    // search decides), the server reads the next batch meanwhile. A full batch only: a
    // shorter one was the last.
    if (!m_next_batch_asked && PQntuples(m_batch->rows.get()) == kScanBatchRows && SearchedElsewhere()) {
        m_next_batch_asked = true;
        try {
            m_next_batch = std::make_unique<PgSentStatement>(m_connection, Fetch(), true);
        } catch (const platform::Error&) {
            // The connection cannot take it now: the batch's own FETCH says why, in its turn.
        }
    }
    if (m_next_batch && m_next % kReceiveEvery == 0) m_next_batch->Receive();
    const int row = m_next++;
    const auto* rows = m_batch->rows.get();
    const auto fid = PgInteger(rows, row, 0);
    std::shared_ptr<Shape> shape;
    if (!PQgetisnull(rows, row, 1)) {
        shape = m_source.Owner().ShapeFromWkb(PQgetvalue(rows, row, 1), static_cast<std::size_t>(PQgetlength(rows, row, 1)),
                                              fid);
        shape->SetReading(m_batch, static_cast<std::size_t>(row));
    }
    return m_source.At(fid, std::move(shape));
}

}  // namespace selvane::gis
