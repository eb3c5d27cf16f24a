#include "memory.h"

#include <cstdlib>
#if defined(_WIN32)
#include <malloc.h>
#endif

namespace pel {
namespace {

int failCountdown = 0;

bool shouldFail() { return failCountdown > 0 && --failCountdown == 0; }

}  // namespace

void failAllocationAfter(int n) { failCountdown = n; }

void* allocateZeroed(std::size_t count, std::size_t size) {
  return shouldFail() ? nullptr : std::calloc(count ? count : 1, size ? size : 1);
}

void* allocate(std::size_t bytes) { return shouldFail() ? nullptr : std::malloc(bytes ? bytes : 1); }

void* allocateAligned(std::size_t bytes) {
  if (shouldFail()) return nullptr;
  constexpr std::size_t alignment = 64;
  const std::size_t rounded = (bytes + alignment - 1) / alignment * alignment;
  if (rounded < bytes) return nullptr;
#if defined(_WIN32)
  return _aligned_malloc(rounded ? rounded : alignment, alignment);
#else
  return std::aligned_alloc(alignment, rounded ? rounded : alignment);
#endif
}

void freeAligned(void* p) {
#if defined(_WIN32)
  _aligned_free(p);
#else
  std::free(p);
#endif
}

}  // namespace pel
