#pragma once

namespace selvane::gis {

/// Makes the C library map each allocation of a megabyte or more on its own (a table's
/// blocks of shapes, its index, the vectors of its rows), so that freeing one gives its
/// pages back to the system at once. glibc otherwise raises that bound each time it frees
/// such a block, and keeps the next ones in its heap after they are freed: a table read
/// block by block then holds its blobs and its shapes in memory at once. For a program's
/// main; a library leaves its host's allocator alone.
void MapLargeBlocksApart();

}  // namespace selvane::gis
