// LZW decoding with fixed 12-bit codes, packed two per three bytes, no reset
// code; 0xFFF ends the data.
#pragma once
#include <cstddef>
#include <cstdint>

namespace pel {

// Decodes `source` into `destination`. On entry `length` is the
// destination's capacity, on return the number of bytes written. Returns 0
// at the end code, -1 when a string would exceed 4,096 bytes, the output
// would exceed the capacity or the input ends before the end code.
int32_t lzwDecode(const uint8_t* source, std::size_t sourceLength, uint8_t* destination, std::size_t& length);

}  // namespace pel
