#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "gis/postgis/connection.h"
#include "gis/postgis/statements.h"
#include "gis/postgis/feature_class.h"
#include "platform/arcobjects.h"

namespace selvane::gis {

struct QueryBatch;
struct ScanSearches;

/// Hands out features of a database class: a new one per row, or one moved along.
class PostgisFeatureMaker {
public:
    PostgisFeatureMaker(std::shared_ptr<const PostgisFeatureClass> owner, bool recycling)
        : m_owner(std::move(owner)), m_recycling(recycling) {}

    std::shared_ptr<platform::IFeature> At(std::int64_t fid, std::optional<std::shared_ptr<Shape>> shape);
    const PostgisFeatureClass& Owner() const { return *m_owner; }

private:
    std::shared_ptr<const PostgisFeatureClass> m_owner;
    bool m_recycling;
    std::shared_ptr<PostgisFeature> m_recycled;
};

/// A row a search found: its id, and the server's reason its shape is not valid (null when
/// it is, or when nobody asked; valid until the next row is asked for).
struct FoundRow {
    std::int64_t fid = 0;
    const char* invalid_reason = nullptr;
};

/// Where a search's rows come from: the search's own statement, the statements answering a
/// scan's batch ahead, or a copy of the table in memory.
class FoundRows {
public:
    virtual ~FoundRows() = default;
    /// The next row found; nothing at the end. Throws what stops the search.
    virtual std::optional<FoundRow> Next() = 0;
};

/// The features a spatial search found, whichever way it is answered. A row whose shape
/// the server found not valid fails the search, naming the row: a search does not hand
/// out an answer that rests on an invalid shape.
class PostgisSearchCursor : public platform::IFeatureCursor {
public:
    PostgisSearchCursor(std::shared_ptr<const PostgisFeatureClass> owner, bool recycling,
                        std::unique_ptr<FoundRows> rows);
    std::shared_ptr<platform::IFeature> NextFeature() override;

private:
    PostgisFeatureMaker m_source;
    std::unique_ptr<FoundRows> m_rows;
};

/// The rows of a search's own statement, streamed from the server as it answers: the id,
/// then the reason the shape is not valid.
class StatementRows : public FoundRows {
public:
    StatementRows(std::shared_ptr<const PostgisFeatureClass> owner, platform::esriSpatialRelEnum relation,
                  std::unique_ptr<PgStream> stream);
    std::optional<FoundRow> Next() override;

private:
    std::shared_ptr<const PostgisFeatureClass> m_owner;
    platform::esriSpatialRelEnum m_relation;
    std::unique_ptr<PgStream> m_stream;
};

/// Every feature of a table (or those a definition query lets through), with shapes,
/// read through a server-side cursor a batch at a time.
class PostgisScanCursor : public platform::IFeatureCursor {
public:
    PostgisScanCursor(std::shared_ptr<const PostgisFeatureClass> owner, bool recycling, const std::string& where);
    ~PostgisScanCursor() override;
    std::shared_ptr<platform::IFeature> NextFeature() override;

private:
    std::string Fetch() const;
    /// Whether the searches of the scan's shapes are answered outside the server, so that
    /// nothing else asks the connection anything while a batch is searched.
    bool SearchedElsewhere() const;

    PostgisFeatureMaker m_source;
    std::shared_ptr<PgConnection> m_connection;
    std::shared_ptr<void> m_transaction;
    std::string m_cursor;
    std::shared_ptr<QueryBatch> m_batch;
    std::shared_ptr<ScanSearches> m_searches;
    // The next batch, asked for while this one is searched outside the server.
    std::unique_ptr<PgSentStatement> m_next_batch;
    bool m_next_batch_asked = false;
    int m_next = 0;
    bool m_done = false;
};

/// How many rows a full scan fetches at a time.
inline constexpr int kScanBatchRows = 10000;
/// Every how many rows of a batch the next batch's rows that have arrived are read in.
inline constexpr int kReceiveEvery = 128;

}  // namespace selvane::gis
