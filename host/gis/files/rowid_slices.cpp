#include "gis/files/rowid_slices.h"

#include <algorithm>
#include <optional>

#include "gis/support/ascii_case.h"
#include "gis/support/slices.h"

namespace selvane::gis {
namespace {

// Whether `table` is a table of the main schema with rowids that no column hides.
bool HasRowids(sqlite3* database, const std::string& table) {
    // pragma_table_list is SQLite 3.37's: an older library prepares nothing, and the table
    // is read whole.
    auto kind = Prepare(database, "SELECT type, wr FROM pragma_table_list(?1) WHERE schema = 'main'");
    if (!kind) return false;
    sqlite3_bind_text(kind.get(), 1, table.c_str(), -1, SQLITE_TRANSIENT);
    if (sqlite3_step(kind.get()) != SQLITE_ROW) return false;
    const auto* type = reinterpret_cast<const char*>(sqlite3_column_text(kind.get(), 0));
    if (!type || std::string(type) != "table" || sqlite3_column_int(kind.get(), 1) != 0) return false;
    auto columns = Prepare(database, "SELECT name FROM pragma_table_info(?1)");
    if (!columns) return false;
    sqlite3_bind_text(columns.get(), 1, table.c_str(), -1, SQLITE_TRANSIENT);
    int step = SQLITE_ROW;
    while ((step = sqlite3_step(columns.get())) == SQLITE_ROW) {
        const auto* name = reinterpret_cast<const char*>(sqlite3_column_text(columns.get(), 0));
        if (name && AsciiLower(name) == "_rowid_") return false;
    }
    return step == SQLITE_DONE;
}

// The connection's data version, which moves when another connection has committed since
// it last looked; inside a transaction, as of its snapshot.
std::optional<std::int64_t> DataVersion(sqlite3* database) {
    auto statement = Prepare(database, "PRAGMA data_version");
    if (!statement || sqlite3_step(statement.get()) != SQLITE_ROW) return std::nullopt;
    return sqlite3_column_int64(statement.get(), 0);
}

bool Execute(sqlite3* database, const char* sql) {
    return sqlite3_exec(database, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

std::optional<RowidRange> RowidSpan(sqlite3* database, const std::string& table) {
    if (!HasRowids(database, table)) return std::nullopt;
    const auto quoted = QuotedIdentifier(table);
    // Two lookups at the ends of the rowid tree: min() and max() in one SELECT would scan it.
    auto ends = Prepare(database, "SELECT (SELECT min(_rowid_) FROM " + quoted + "), (SELECT max(_rowid_) FROM " +
                                      quoted + ")");
    if (!ends || sqlite3_step(ends.get()) != SQLITE_ROW || sqlite3_column_type(ends.get(), 0) != SQLITE_INTEGER) {
        return std::nullopt;
    }
    return RowidRange{sqlite3_column_int64(ends.get(), 0), sqlite3_column_int64(ends.get(), 1)};
}

// In unsigned arithmetic: the span of rowids from -2^63 to 2^63-1 fits, and no step below
// overflows.
std::uint64_t Span(const RowidRange& range) {
    return static_cast<std::uint64_t>(range.last) - static_cast<std::uint64_t>(range.first);
}

std::vector<RowidRange> Cut(const RowidRange& whole, std::size_t count) {
    const std::uint64_t step = Span(whole) / count;
    if (step == 0) return {whole};
    std::vector<RowidRange> ranges;
    ranges.reserve(count);
    const auto first = static_cast<std::uint64_t>(whole.first);
    for (std::size_t index = 0; index < count; ++index) {
        const auto last = index + 1 == count ? whole.last : static_cast<std::int64_t>(first + step * (index + 1) - 1);
        ranges.push_back({static_cast<std::int64_t>(first + step * index), last});
    }
    return ranges;
}

}  // namespace

std::vector<RowidRange> RowidRanges(sqlite3* database, const std::string& table, std::size_t count) {
    if (count == 0) return {};
    const auto whole = RowidSpan(database, table);
    return whole ? Cut(*whole, count) : std::vector<RowidRange>{};
}

std::vector<RowidRange> SlicesOf(sqlite3* database, const std::string& table, std::size_t count) {
    const auto whole = RowidSpan(database, table);
    if (!whole) return {};
    if (count == 0) {
        // Rowids bound the rows from above; a table with gaps gets slices of fewer rows.
        const std::uint64_t span = Span(*whole);
        const std::size_t cores = ThreadsFor(span, kRowsPerSlice);
        count = static_cast<std::size_t>(std::clamp<std::uint64_t>(span / kRowsPerSlice, 1, cores));
    }
    return Cut(*whole, count);
}

SnapshotHelpers::SnapshotHelpers(sqlite3* main, const std::string& path, std::size_t count, SnapshotGap gap)
    : m_main(main) {
    // Each helper's data version before the main snapshot begins, and again in its own
    // snapshot: equal, no commit came between the two, and the main snapshot, begun in
    // between, is the helper's.
    std::vector<std::int64_t> before;
    for (std::size_t index = 0; index < count; ++index) {
        auto helper = std::make_unique<ReadOnlyDatabase>(path);
        const auto version = helper->Handle() ? DataVersion(helper->Handle()) : std::nullopt;
        if (!version) continue;
        m_helpers.push_back(std::move(helper));
        before.push_back(*version);
    }
    if (m_helpers.empty()) return;
    m_in_transaction = Execute(main, "BEGIN");
    if (!m_in_transaction || !DataVersion(main)) {
        m_helpers.clear();  // and nothing is read in slices
        return;
    }
    if (gap) gap();
    for (std::size_t index = 0; index < m_helpers.size(); ++index) {
        sqlite3* helper = m_helpers[index]->Handle();
        const bool joined = Execute(helper, "BEGIN") && DataVersion(helper) == before[index];
        if (!joined) m_helpers[index].reset();  // closing it ends its transaction
    }
    m_helpers.resize(count);
}

SnapshotHelpers::~SnapshotHelpers() {
    if (m_in_transaction) Execute(m_main, "END");
}

sqlite3* SnapshotHelpers::At(std::size_t index) const {
    return index < m_helpers.size() && m_helpers[index] ? m_helpers[index]->Handle() : nullptr;
}

bool SnapshotHelpers::Joined() const {
    return std::any_of(m_helpers.begin(), m_helpers.end(), [](const auto& helper) { return helper != nullptr; });
}

}  // namespace selvane::gis
