// Rows of 32-bit pixels put over others: every pixel but the colour key, or
// each blended by its alpha (blendValue). A plain form and, where the
// processor has AVX2, a vector form that gives the same bytes.
#pragma once
#include <cstdint>

namespace pel {

struct PutRows {
  // Copies the source pixels whose low 24 bits differ from `key` (24 bits).
  void (*keyed)(uint8_t* destination, const uint8_t* source, int32_t count, uint32_t key);
  // destination = blendValue(destination, source) for each pixel.
  void (*blended)(uint8_t* destination, const uint8_t* source, int32_t count);
};

// The fastest form the processor runs, or the plain one when `vector` is
// false (tests compare the two).
const PutRows& putRows(bool vector = true);

namespace putrows {
void keyedPlain(uint8_t* destination, const uint8_t* source, int32_t count, uint32_t key);
void blendedPlain(uint8_t* destination, const uint8_t* source, int32_t count);
void keyedAvx2(uint8_t* destination, const uint8_t* source, int32_t count, uint32_t key);
void blendedAvx2(uint8_t* destination, const uint8_t* source, int32_t count);
}  // namespace putrows

}  // namespace pel
