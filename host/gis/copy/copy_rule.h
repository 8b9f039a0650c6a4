#pragma once

// When a run's searches of a database table are answered from a copy of the table in
// memory rather than by the server: when reading the table costs less than the searches.

#include "gis/common/engine_tuning.h"

namespace selvane::gis {

/// What the server's statistics say of a table: rows, and the bytes of its rows (TOAST too).
struct TableSize {
    double rows = 0;
    double bytes = 0;
    /// Some of its rows lie on other servers (foreign tables): the server fetches them
    /// anew for every statement that searches them.
    bool afar = false;
};

/// Whether reading `table` into memory costs less than asking the server `searches`
/// searches of about `candidates` candidates each (its index's estimate), and the copy
/// fits in memory; or what `rule` says when it is not by cost.
bool CopyPaysOff(TableCopyRule rule, const TableSize& table, double searches, double candidates);

}  // namespace selvane::gis
