// Memory checks of the tests that repeat a mode set many times.
#pragma once

#if defined(__GLIBC__)
#include <malloc.h>
#endif

// Bytes the C library's allocator has handed out and not had back (glibc),
// or 0 where it cannot tell.
inline long bytesInUse() {
#if defined(__GLIBC__)
  const struct mallinfo2 info = mallinfo2();
  return static_cast<long>(info.uordblks + info.hblkhd);
#else
  return 0;
#endif
}
