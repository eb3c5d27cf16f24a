#include "put_rows.h"

#include <cstring>

#include "gfx/cpu.h"
#include "gfx/pixel.h"

namespace pel {
namespace putrows {

void keyedPlain(uint8_t* destination, const uint8_t* source, int32_t count, uint32_t key) {
  for (int32_t i = 0; i < count; ++i) {
    uint32_t s;
    std::memcpy(&s, source + 4 * i, 4);
    if ((s & 0xFFFFFF) != key) std::memcpy(destination + 4 * i, &s, 4);
  }
}

void blendedPlain(uint8_t* destination, const uint8_t* source, int32_t count) {
  for (int32_t i = 0; i < count; ++i) {
    uint32_t s, d;
    std::memcpy(&s, source + 4 * i, 4);
    std::memcpy(&d, destination + 4 * i, 4);
    d = blendValue(d, s);
    std::memcpy(destination + 4 * i, &d, 4);
  }
}

}  // namespace putrows

const PutRows& putRows(bool vector) {
  static constexpr PutRows plain{putrows::keyedPlain, putrows::blendedPlain};
#if defined(__x86_64__) || defined(__i386__) || defined(_M_X64) || defined(_M_IX86)
  static constexpr PutRows avx2{putrows::keyedAvx2, putrows::blendedAvx2};
  if (vector && cpuHasAvx2()) return avx2;
#else
  (void)vector;
#endif
  return plain;
}

}  // namespace pel
