#include "gis/copy/copy_rule.h"

#include <unistd.h>

#include <algorithm>

namespace selvane::gis {
namespace {

// What each costs, in microseconds of this machine (bench/postgis_select.sh): a search in
// the server answered ahead, whatever it finds (100k points' searches took 1.9 s); each
// candidate the server tests (TOUCH of 100k cells, some 25 candidates each, 10.7 s); a
// row copied and read (1M cells: 1.5 s, 1M points: 0.75 s).
constexpr double kServerSearch = 20;
constexpr double kServerCandidate = 3;
constexpr double kCopiedRow = 1.5;

// What a row kept on another server is taken to need, where this server holds nothing of it.
constexpr double kForeignRowBytes = 100;

// The share of the machine's memory a copy may take.
constexpr double kMemoryShare = 0.25;

double PhysicalMemory() {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long page = sysconf(_SC_PAGE_SIZE);
    return pages > 0 && page > 0 ? static_cast<double>(pages) * static_cast<double>(page) : 0;
}

}  // namespace

bool CopyPaysOff(TableCopyRule rule, const TableSize& table, double searches, double candidates) {
    switch (rule) {
        case TableCopyRule::kAlways: return true;
        case TableCopyRule::kNever: return false;
        case TableCopyRule::kByCost: break;
    }
    // A table's shapes take in memory about what they take in the server; rows kept
    // elsewhere, about a hundred bytes each.
    const double memory = PhysicalMemory();
    const double bytes = table.afar ? std::max(table.bytes, table.rows * kForeignRowBytes) : table.bytes;
    if (memory <= 0 || bytes > memory * kMemoryShare) return false;
    // Each statement searching rows kept elsewhere fetches them all: copied once, they cost less.
    if (table.afar) return true;
    return table.rows * kCopiedRow < searches * (kServerSearch + candidates * kServerCandidate);
}

}  // namespace selvane::gis
