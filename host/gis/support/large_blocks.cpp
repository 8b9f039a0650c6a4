#include "gis/support/large_blocks.h"

#include <cstdlib>  // defines __GLIBC__ with the C library's own headers

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace selvane::gis {

void MapLargeBlocksApart() {
#if defined(__GLIBC__)
    mallopt(M_MMAP_THRESHOLD, 1 << 20);
#endif
}

}  // namespace selvane::gis
