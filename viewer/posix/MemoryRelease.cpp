#include "viewer/MemoryRelease.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

void returnFreedMemoryToSystem() {
#if defined(__GLIBC__)
    // glibc keeps freed blocks of its heaps for reuse; trimming returns the free pages.
    ::malloc_trim(0);
#endif
}
