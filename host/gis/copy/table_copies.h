#pragma once

// A table that a run's searches would each ask of the server is read into memory once,
// when the searches together would cost the server more than sending the table does, and
// the run's searches are answered there, as for a table read from a file: the rows of the
// scan's batches answered ahead on a second core, every relation's shortcuts, and one
// full relate a candidate at most. The copy belongs to the scan whose shapes it answers
// and ends with it, so that the next run reads the table as it is then. Anything the copy
// cannot read (a row the layer's definition query fails on, a shape the client does not
// read) leaves the searches to the server, which answers and fails as it always has.

#include "gis/postgis/searches_elsewhere.h"

namespace selvane::gis {

/// What answers the searches of a scan's shapes from copies of their tables in memory, for
/// the classes of a PostGIS source; each table's copy is decided by its tuning's rule.
SearchesElsewhereMaker TableCopies();

}  // namespace selvane::gis
