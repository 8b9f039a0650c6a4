#pragma once

// A table that a run's searches would each ask of the server is read into memory once,
// when the searches together would cost the server more than sending the table does, and
// the run's searches are answered there, as for a table read from a file: the rows of the
// scan's batches answered ahead on a second core, every relation's shortcuts, and one
// full relate a candidate at most. The copy belongs to the scan whose shapes it answers
// and ends with it, so that the next run reads the table as it is then. Anything the copy
// cannot read (a row the layer's definition query fails on, a shape the client does not
// read) leaves the searches to the server, which answers and fails as it always has.

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "gis/memory/feature_class.h"
#include "gis/postgis/connection.h"

namespace selvane::gis {

class PostgisFeatureClass;
struct PgTable;
struct QueryBatch;

/// What the server's statistics say of a table: rows, and the bytes of its rows (TOAST too).
struct TableSize {
    double rows = 0;
    double bytes = 0;
};

/// Whether reading `table` into memory costs less than asking the server `searches`
/// searches of about `candidates` candidates each (its index's estimate), and the copy
/// fits in memory.
bool CopyPaysOff(const TableSize& table, double searches, double candidates);

/// The rows of `table` that `where` (a definition query; empty: every row) lets through,
/// read in a binary copy: ids and shapes (2D, as the class reads them), each shape's
/// bytes checked before GEOS reads them. A table of at least twice `kCopyHalfBlocks`
/// blocks is copied in two halves at once when `helper` gives a second connection that
/// reads the snapshot of `connection`'s transaction (nullptr: it cannot). Throws
/// platform::Error naming `culprit` and the FID of a row that cannot be read, or with the
/// server's words.
FeatureRows CopyTableRows(PgConnection& connection, const std::function<std::shared_ptr<PgConnection>()>& helper,
                          const PgTable& table, const std::string& where, const std::string& culprit);
/// The blocks (8 KiB) of each half of a table copied in two: below that, a second
/// connection's start costs more than it saves.
inline constexpr std::uint64_t kCopyHalfBlocks = 256;

/// The WKB of a 2D point from the server's EWKB of it (the byte order, the type 1, with
/// 0x20000000 set when an SRID follows, then x and y); nothing for bytes of any other form.
std::optional<std::array<unsigned char, 21>> PointWkbOfEwkb(const unsigned char* bytes, std::size_t size);

/// The WKB of a 2D shape from the server's EWKB of it: the same bytes, with the SRID the
/// first header may carry (type flag 0x20000000 and four bytes) taken out, into `scratch`
/// when there is one. Nothing when that header is not of a 2D point, line or polygon,
/// single or multi; the rest is checked as any WKB is.
std::optional<std::span<const unsigned char>> FlatWkbOfEwkb(const unsigned char* bytes, std::size_t size,
                                                            std::vector<unsigned char>& scratch);

/// The rows of a scan's batch as a class's rows. A shape that cannot be read is left
/// out: the scan fails at its row before that row's search.
FeatureRows BatchRows(const QueryBatch& batch);

/// A table read into memory for the searches of one scan; `rows` null when the searches
/// go to the server.
struct TableCopy {
    std::weak_ptr<const PostgisFeatureClass> owner;
    std::shared_ptr<MemoryFeatureClass> rows;
};

/// What the searches of one scan's shapes keep while the scan lives: the batch's rows in
/// memory and the tables copied for them.
struct ScanSearches {
    /// The rows the scan hands out, as counted; 0 when not counted.
    std::int64_t expected_rows = 0;
    /// By target class and definition query.
    std::map<std::pair<const PostgisFeatureClass*, std::string>, TableCopy> copies;
};

/// What a copy of `table`'s rows calls itself in error texts: the table's own name.
std::function<std::string()> CulpritOf(const PostgisFeatureClass& table);

/// Which rule decides whether a table is copied: its costs, or always or never (tests of
/// either way of answering).
enum class TableCopyRule { kByCost, kAlways, kNever };
void SetTableCopyRuleForTests(TableCopyRule rule);
TableCopyRule CurrentTableCopyRule();
/// How many tables have been read into memory for a scan's searches, in this process;
/// how many of them in two halves at once.
std::size_t TablesCopied();
std::size_t TablesCopiedInHalves();

}  // namespace selvane::gis
