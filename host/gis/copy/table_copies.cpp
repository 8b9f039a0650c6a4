#include "gis/copy/table_copies.h"

#include <algorithm>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string_view>
#include <utility>

#include "gis/copy/copied_rows.h"
#include "gis/copy/copy_rule.h"
#include "gis/memory/feature_class.h"
#include "gis/postgis/cursors.h"
#include "gis/postgis/feature_class.h"
#include "gis/postgis/search_ahead.h"
#include "gis/postgis/sql.h"

namespace selvane::gis {
namespace {

// What a copy of `table`'s rows calls itself in error texts: the table's own name.
std::function<std::string()> CulpritOf(const PostgisFeatureClass& table) {
    // Not held: the copy may outlive the class in a cursor, and name it as it was.
    return [weak = table.weak_from_this(), last = table.Culprit()] {
        const auto alive = weak.lock();
        return alive ? alive->Culprit() : last;
    };
}

// The rows a search of a table's copy in memory found, whose ids are the table's own.
class FoundInCopy : public FoundRows {
public:
    // `queries`: the scan's batch in memory, which the search reads.
    FoundInCopy(std::shared_ptr<const MemoryFeatureClass> queries, std::shared_ptr<platform::IFeatureCursor> found)
        : m_queries(std::move(queries)), m_found(std::move(found)) {}
    std::optional<FoundRow> Next() override {
        const auto feature = m_found->NextFeature();
        if (!feature) return std::nullopt;
        return FoundRow{feature->OID(), nullptr};
    }

private:
    std::shared_ptr<const MemoryFeatureClass> m_queries;
    std::shared_ptr<platform::IFeatureCursor> m_found;
};

// A table read into memory for the searches of one scan; `rows` null when the searches
// go to the server.
struct TableCopy {
    std::weak_ptr<const PostgisFeatureClass> owner;
    std::shared_ptr<MemoryFeatureClass> rows;
};

class ScanTableCopies : public SearchesElsewhere {
public:
    std::shared_ptr<platform::IFeatureCursor> Search(PostgisFeatureClass& target,
                                                     const std::shared_ptr<const QueryBatch>& batch,
                                                     const SpatialQuery& request, const std::string& where,
                                                     bool recycling) override {
        const auto& query = *request.shape->Geometry();
        auto* copy = CopyFor(target, *batch, query, where);
        if (!copy) return nullptr;
        auto queries = InMemory(batch);
        if (!queries) return nullptr;
        auto found = copy->SearchScanRow(*queries, nullptr, request.shape->Row(), request.relation, true, nullptr,
                                         request.owner, query);
        return std::make_shared<PostgisSearchCursor>(target.shared_from_this(), recycling,
                                                     std::make_unique<FoundInCopy>(std::move(queries), std::move(found)));
    }

    void Prepare(PostgisFeatureClass& target, const std::shared_ptr<const QueryBatch>& batch,
                 const SpatialQuery& request, const std::string& where) override {
        CopyFor(target, *batch, *request.shape->Geometry(), where);
    }

    bool AnswersEverySearch() const override {
        const std::lock_guard lock(m_mutex);
        return !m_copies.empty() &&
               std::all_of(m_copies.begin(), m_copies.end(), [](const auto& copy) { return copy.second.rows != nullptr; });
    }

private:
    MemoryFeatureClass* CopyFor(PostgisFeatureClass& target, const QueryBatch& batch, const geos::geom::Geometry& query,
                                const std::string& where);
    bool PaysOff(PostgisFeatureClass& target, const QueryBatch& batch, const geos::geom::Geometry& query);
    std::shared_ptr<MemoryFeatureClass> CopyRows(PostgisFeatureClass& target, const std::string& where, bool shareable);
    std::shared_ptr<const MemoryFeatureClass> InMemory(const std::shared_ptr<const QueryBatch>& batch);

    // By target class and definition query. Targets may be made ready at once, each on a
    // thread: the map is read and written under the mutex, each copy made outside it.
    mutable std::mutex m_mutex;
    std::map<std::pair<const PostgisFeatureClass*, std::string>, TableCopy> m_copies;
    // The scan's batch being searched (not held: the batch holds the scan's searches,
    // and so this), and its rows in memory (null when they cannot be: the batch's
    // searches go to the server).
    std::weak_ptr<const QueryBatch> m_batch;
    std::shared_ptr<const MemoryFeatureClass> m_batch_rows;
};

MemoryFeatureClass* ScanTableCopies::CopyFor(PostgisFeatureClass& target, const QueryBatch& batch,
                                             const geos::geom::Geometry& query, const std::string& where) {
    const auto key = std::make_pair(static_cast<const PostgisFeatureClass*>(&target), where);
    {
        const std::lock_guard lock(m_mutex);
        auto found = m_copies.find(key);
        if (found != m_copies.end() && found->second.owner.lock().get() == &target) return found->second.rows.get();
    }
    auto& connection = *target.Connection();
    TableCopy copy{target.weak_from_this(), nullptr};
    // Inside the scan's transaction: a statement that fails undoes the copy alone, and the
    // scan's cursor goes on.
    try {
        // A copy in two halves shares the scan's snapshot, which the server cannot export
        // inside the savepoint.
        bool shareable = false;
        if (target.Table().heap_rows && connection.ServerVersion() >= 140000) {
            try {
                connection.ExportSnapshot();
                shareable = true;
            } catch (const platform::Error&) {
            }
        }
        target.RequireColumnAsOpened();
        connection.Execute("SAVEPOINT selvane_table_copy");
        try {
            if (PaysOff(target, batch, query)) copy.rows = CopyRows(target, where, shareable);
            connection.Execute("RELEASE SAVEPOINT selvane_table_copy");
        } catch (const std::exception&) {
            // Out of memory, a row the definition query fails on, a shape not read here:
            // the server answers the searches, as it would have.
            connection.RollbackToSavepoint("selvane_table_copy");
            copy.rows = nullptr;
        }
    } catch (const platform::Error&) {
        copy.rows = nullptr;  // no savepoint: the server answers, and says what is wrong
    }
    const std::lock_guard lock(m_mutex);
    return m_copies.insert_or_assign(key, std::move(copy)).first->second.rows.get();
}

bool ScanTableCopies::PaysOff(PostgisFeatureClass& target, const QueryBatch& batch, const geos::geom::Geometry& query) {
    const auto rule = target.Tuning()->copy_rule.load();
    if (rule != TableCopyRule::kByCost) return CopyPaysOff(rule, {}, 0, 0);
    auto& connection = *target.Connection();
    const auto& table = target.Table();
    // A partitioned table's rows are its partitions'. A table never analysed has no count
    // of its rows: about one a 100 bytes; a foreign table has no bytes here either, and one
    // never analysed is of a size nobody here knows: not copied.
    const auto size = connection.Execute(
        "SELECT sum(CASE WHEN c.reltuples >= 0 THEN c.reltuples ELSE pg_table_size(c.oid) / 100 END)::float8, "
        "sum(pg_table_size(c.oid))::float8, bool_or(c.relkind = 'f' AND c.reltuples < 0), bool_or(c.relkind = 'f') "
        "FROM pg_class c WHERE c.relkind <> 'p' AND (c.oid = $1::regclass OR c.oid IN (SELECT relid FROM "
        "pg_partition_tree($1::regclass) WHERE isleaf))",
        {{table.Qualified()}}, false);
    if (PQntuples(size.get()) != 1 || PQgetisnull(size.get(), 0, 0) || PQgetvalue(size.get(), 0, 2)[0] == 't') return false;
    TableSize sized{std::atof(PQgetvalue(size.get(), 0, 0)), std::atof(PQgetvalue(size.get(), 0, 1)),
                    PQgetvalue(size.get(), 0, 3)[0] == 't'};
    // The index's estimate of one search's candidates, for the first of the scan's shapes.
    const auto plan = connection.Execute("EXPLAIN (FORMAT JSON) SELECT 1 FROM " + table.Rows() + " t WHERE t." +
                                             QuotedIdentifier(table.geometry_column) + " && $1::geometry",
                                         {{ExtendedWkb(query, table.srid), true}}, false);
    const std::string_view text = PQgetvalue(plan.get(), 0, 0);
    constexpr std::string_view kRows = "\"Plan Rows\": ";
    const auto at = text.find(kRows);
    const double candidates = at == std::string_view::npos ? 0 : std::atof(text.data() + at + kRows.size());
    const double searches = static_cast<double>(
        std::max<std::int64_t>(batch.searches->expected_rows, static_cast<std::int64_t>(batch.Size())));
    return CopyPaysOff(rule, sized, searches, candidates);
}

std::shared_ptr<MemoryFeatureClass> ScanTableCopies::CopyRows(PostgisFeatureClass& target, const std::string& where,
                                                              bool shareable) {
    // A second connection in the scan's snapshot, for a copy in two halves.
    const auto helper = [&target, shareable]() -> std::shared_ptr<PgConnection> {
        auto second = shareable ? target.Connection()->Extra(ExtraUse::kSearches) : nullptr;
        if (!second) return nullptr;
        try {
            target.Connection()->ShareSnapshot(second);
        } catch (const platform::Error&) {
            return nullptr;
        }
        return second;
    };
    const auto& table = target.Table();
    auto rows = std::make_shared<MemoryFeatureClass>(
        table.Display(), table.geometry_column, table.dimension, target.SpatialReference(), [&target, where, helper] {
            return CopyTableRows(*target.Connection(), helper, target.Table(), where, target.Culprit(), *target.Tuning());
        },
        target.Tuning());
    rows->SetCulprit(CulpritOf(target));
    rows->EnsureRows();
    rows->RequireAllFinite();
    // Every row of the table was read and found finite: the server need not look again.
    if (where.empty()) target.NoteAllFinite();
    return rows;
}

std::shared_ptr<const MemoryFeatureClass> ScanTableCopies::InMemory(const std::shared_ptr<const QueryBatch>& batch) {
    if (m_batch.lock() == batch) return m_batch_rows;
    m_batch = batch;
    m_batch_rows = nullptr;
    const auto table = batch->scanned.lock();
    if (!table) return nullptr;
    try {
        auto rows = std::make_shared<MemoryFeatureClass>(table->Table().Display(), table->Table().geometry_column,
                                                         table->Dimension(), table->SpatialReference(),
                                                         [rows_of = batch.get()] { return BatchRows(*rows_of); },
                                                         table->Tuning());
        rows->SetCulprit(CulpritOf(*table));
        rows->EnsureRows();
        m_batch_rows = std::move(rows);
    } catch (const std::exception&) {
        // The batch's searches go to the server.
    }
    return m_batch_rows;
}

}  // namespace

SearchesElsewhereMaker TableCopies() {
    return [] { return std::make_unique<ScanTableCopies>(); };
}

}  // namespace selvane::gis
