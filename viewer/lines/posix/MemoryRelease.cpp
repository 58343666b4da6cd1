#include "viewer/lines/MemoryRelease.h"

// Any C library header tells whether this is glibc.
#include <cstdlib>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

void returnFreedMemoryToSystem() {
#if defined(__GLIBC__)
    // glibc keeps freed blocks inside its heap for reuse; trimming hands their pages back.
    ::malloc_trim(0);
#endif
}
