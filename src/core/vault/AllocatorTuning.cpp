#include "vault/AllocatorTuning.h"

#include <cstdlib>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace Keldra::Core {

void AllocatorTuning::keepLargeBuffers()
{
#if defined(__GLIBC__)
    // Buffers up to this size come from the heap and are reused, not mapped and unmapped.
    (void)mallopt(M_MMAP_THRESHOLD, 64 * 1024 * 1024);
    // Freed memory at the top of the heap stays with the process up to this much.
    (void)mallopt(M_TRIM_THRESHOLD, 256 * 1024 * 1024);
#endif
}

} // namespace Keldra::Core
