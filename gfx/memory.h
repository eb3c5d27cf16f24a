// Allocation for the mode's buffers. Every allocation can be made to fail on
// purpose, so tests can check that each failure is handled without a leak.
#pragma once
#include <cstddef>

namespace pel {

void* allocateZeroed(std::size_t count, std::size_t size);  // calloc
void* allocate(std::size_t bytes);                           // malloc
// 64-byte aligned, so that vector stores never split a cache line at a row start.
void* allocateAligned(std::size_t bytes);
void freeAligned(void* p);

// Makes the n-th allocation from now fail (1 = the next one); 0 turns it off.
void failAllocationAfter(int n);

}  // namespace pel
