#include "lzw.h"

#include <cstring>

namespace pel {
namespace {

constexpr uint32_t endCode = 0xFFF;
constexpr uint32_t lastEntry = 0xFFE;
constexpr std::size_t maxString = 4096;

struct Entry {
  uint16_t prefix;
  uint8_t last;
};
// Shared by every call and overwritten by each; not re-entrant.
Entry dictionary[4096];

// The n-th 12-bit code, or false when its bytes lie beyond the input.
bool codeAt(const uint8_t* s, std::size_t length, std::size_t n, uint32_t& code) {
  const std::size_t at = n / 2 * 3 + (n & 1);
  if (at + 1 >= length) return false;
  code = (n & 1) ? (s[at] >> 4) | (uint32_t{s[at + 1]} << 4) : s[at] | (uint32_t{s[at + 1]} & 0x0F) << 8;
  return true;
}

// Writes the string of `code` into buf from its end; returns its length, or
// 0 when it would be longer than maxString.
std::size_t spell(uint32_t code, uint8_t (&buf)[maxString]) {
  std::size_t n = 0;
  while (code >= 256) {
    if (n == maxString) return 0;
    buf[maxString - 1 - n++] = dictionary[code].last;
    code = dictionary[code].prefix;
  }
  if (n == maxString) return 0;
  buf[maxString - 1 - n++] = static_cast<uint8_t>(code);
  return n;
}

}  // namespace

int32_t lzwDecode(const uint8_t* source, std::size_t sourceLength, uint8_t* destination, std::size_t& length) {
  const std::size_t capacity = length;
  length = 0;
  uint32_t code;
  if (!codeAt(source, sourceLength, 0, code)) return -1;
  if (capacity == 0) return -1;
  // The first code is a literal; one above 255 counts as its low byte.
  uint32_t previous = code & 0xFF;
  destination[length++] = static_cast<uint8_t>(previous);
  uint32_t next = 256;
  uint8_t buf[maxString];
  for (std::size_t n = 1;; ++n) {
    if (!codeAt(source, sourceLength, n, code)) return -1;
    if (code == endCode) return 0;
    std::size_t size;
    if (code < next) {
      size = spell(code, buf);
      if (size == 0) return -1;
    } else {
      // Not yet defined: the previous string and its own first byte.
      size = spell(previous, buf);
      if (size == 0 || size == maxString) return -1;
      std::memmove(buf + maxString - size - 1, buf + maxString - size, size);
      buf[maxString - 1] = buf[maxString - size - 1];
      ++size;
    }
    const uint8_t* string = buf + maxString - size;
    if (size > capacity - length) {
      std::memcpy(destination + length, string, capacity - length);
      length = capacity;
      return -1;
    }
    std::memcpy(destination + length, string, size);
    length += size;
    if (next <= lastEntry) dictionary[next++] = {static_cast<uint16_t>(previous), string[0]};
    previous = code;
  }
}

}  // namespace pel
