// lzwDecode on any bytes: the first byte picks the capacity.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "gfx/lzw.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const std::size_t capacity = std::size_t{data[0]} * 64;
  // Exactly the input's bytes, so that reading past them is caught.
  std::vector<uint8_t> input(data + 1, data + size);
  std::vector<uint8_t> output(capacity);
  std::size_t length = capacity;
  const int32_t result = pel::lzwDecode(input.data(), input.size(), output.data(), length);
  if ((result != 0 && result != -1) || length > capacity) std::abort();
  return 0;
}
