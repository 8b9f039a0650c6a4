#include "gis/postgis_search_ahead.h"

#include <algorithm>

#include "gis/postgis_feature_class.h"
#include "gis/spatial_relation.h"

namespace selvane::gis {
namespace {

void PutInt32(std::string& bytes, std::int32_t value) {
    const auto bits = static_cast<std::uint32_t>(value);
    for (int shift = 24; shift >= 0; shift -= 8) bytes.push_back(static_cast<char>((bits >> shift) & 0xFF));
}

constexpr std::int32_t kByteaOid = 17;

}  // namespace

std::string QueryBatch::ShapesFrom(std::size_t first) const {
    const int count = PQntuples(rows.get());
    bool any_null = false;
    std::size_t size = 20;
    for (int row = static_cast<int>(first); row < count; ++row) {
        any_null = any_null || PQgetisnull(rows.get(), row, 1);
        size += 4 + static_cast<std::size_t>(PQgetlength(rows.get(), row, 1));
    }
    std::string bytes;
    bytes.reserve(size);
    PutInt32(bytes, 1);  // dimensions
    PutInt32(bytes, any_null ? 1 : 0);
    PutInt32(bytes, kByteaOid);
    PutInt32(bytes, count - static_cast<int>(first));
    PutInt32(bytes, 1);  // lower bound
    for (int row = static_cast<int>(first); row < count; ++row) {
        if (PQgetisnull(rows.get(), row, 1)) {
            PutInt32(bytes, -1);
            continue;
        }
        const int length = PQgetlength(rows.get(), row, 1);
        PutInt32(bytes, length);
        bytes.append(PQgetvalue(rows.get(), row, 1), static_cast<std::size_t>(length));
    }
    return bytes;
}

SearchAheadCursor::SearchAheadCursor(std::shared_ptr<PostgisFeatureClass> owner, bool recycling,
                                     platform::esriSpatialRelEnum relation, std::shared_ptr<const QueryBatch> batch,
                                     std::size_t row, OwnStatement own_statement)
    : m_owner(owner),
      m_source(std::move(owner), recycling),
      m_relation(relation),
      m_batch(std::move(batch)),
      m_row(row),
      m_own_statement(std::move(own_statement)) {}

std::shared_ptr<platform::IFeature> SearchAheadCursor::FromOwnStatement() {
    if (!m_own) m_own = m_own_statement();
    while (auto feature = m_own->NextFeature()) {
        if (std::find(m_handed_out.begin(), m_handed_out.end(), feature->OID()) == m_handed_out.end()) return feature;
    }
    return nullptr;
}

std::shared_ptr<platform::IFeature> SearchAheadCursor::NextFeature() {
    if (m_own) return FromOwnStatement();
    if (m_done) return nullptr;
    auto* ahead = m_owner->AheadState();
    // Another search has moved the statement past this one's rows: ask on its own.
    if (!ahead || ahead->batch != m_batch || ahead->reading_row > m_row || ahead->failed) return FromOwnStatement();
    if (ahead->ended) {
        m_done = true;
        return nullptr;
    }
    ahead->reading_row = m_row;
    while (true) {
        if (!ahead->pending) {
            try {
                ahead->pending = ahead->stream->Next();
            } catch (const platform::Error& error) {
                m_owner->FailAhead();
                // A lost connection is no failure of this statement: say what the server said.
                if (m_owner->Connection()->Lost()) {
                    throw platform::Error(error.Number(), "Cannot evaluate " + std::string(RelationName(m_relation)) +
                                                              " on " + m_owner->Culprit() + ": " + error.what());
                }
                return FromOwnStatement();
            }
            if (!ahead->pending) {
                m_owner->FinishAhead();
                m_done = true;
                return nullptr;
            }
            ahead->pending_row = ahead->first + static_cast<std::size_t>(PgInteger(ahead->pending, 0, 0)) - 1;
        }
        if (ahead->pending_row < m_row) {
            ahead->pending = nullptr;  // rows of a search nobody read
            continue;
        }
        if (ahead->pending_row > m_row) {
            m_done = true;
            return nullptr;
        }
        const PGresult* row = ahead->pending;
        ahead->pending = nullptr;
        const auto fid = PgInteger(row, 0, 1);
        if (PQnfields(row) > 2 && !PQgetisnull(row, 0, 2)) {
            throw platform::Error(platform::kFail, "Invalid shape in " + m_owner->Culprit() + ", FID " +
                                                       std::to_string(fid) + ": " + PQgetvalue(row, 0, 2));
        }
        m_handed_out.push_back(fid);
        return m_source.At(fid, std::nullopt);
    }
}

}  // namespace selvane::gis
