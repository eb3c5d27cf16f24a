// Decoding of a terminal's input bytes into key codes.
#pragma once
#include <cstddef>
#include <cstdint>

namespace pel {

// Decodes the key at the start of `bytes`. Returns the number of bytes used
// (at least 1 when count > 0) and stores the key code (0 for a sequence that
// names no key). An escape sequence cut off at the end of the bytes reads as
// the Escape key alone, since the terminal delivers a sequence in one piece.
std::size_t decodeTerminalKey(const uint8_t* bytes, std::size_t count, int32_t& code);

}  // namespace pel
