// Placeholder: the font readers on any bytes.
#include <pellucet/pellucet.h>

#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> bytes(data, data + size);
  const pellucet::LoadedFont font = pellucet::loadFont(bytes.data(), bytes.size());
  return 0;
}
