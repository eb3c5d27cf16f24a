// What a process holds that opening and closing screens could leak, taken
// before many mode sets and compared after them.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>

#include "resource_counter.h"
#include "win32_test_support.h"

namespace pel::test {

struct Holdings {
  int threads, windows;
  ResourceCounter::Live live;  // the counted GDI objects, device contexts and libraries
  std::size_t memory;          // heap bytes in use

  static Holdings now() { return {threadCount(), windowCount(), ResourceCounter::live(), heapBytesInUse()}; }

  // No more threads or windows than before (Wine may end one of its own
  // meanwhile), the same counted handles, and heap bytes within `slack`.
  void expectKept(std::size_t slack) const {
    const Holdings after = now();
    EXPECT_LE(after.threads, threads);
    EXPECT_LE(after.windows, windows);
    EXPECT_EQ(after.live, live);
    EXPECT_LT(after.memory, memory + slack) << "grew by " << (after.memory - memory);
  }
};

}  // namespace pel::test
