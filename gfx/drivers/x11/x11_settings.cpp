#include "x11_settings.h"

namespace pel::x11 {
namespace {

constexpr std::size_t padded(std::size_t n) { return (n + 3) & ~std::size_t{3}; }

// Reads the property in the byte order it declares, never past its end.
struct Reader {
  const uint8_t* data;
  std::size_t size, at;
  bool bigEndian;

  bool has(std::size_t n) const { return n <= size - at; }
  uint32_t number(int bytes) {
    uint32_t v = 0;
    for (int i = 0; i < bytes; ++i) {
      const uint32_t b = data[at + (bigEndian ? i : bytes - 1 - i)];
      v = v << 8 | b;
    }
    at += static_cast<std::size_t>(bytes);
    return v;
  }
};

}  // namespace

std::optional<int32_t> integerSetting(const uint8_t* data, std::size_t size, std::string_view name) {
  if (!data || size < 12) return std::nullopt;
  Reader r{data, size, 0, data[0] == 1};
  r.at = 4;
  r.number(4);  // serial
  const uint32_t count = r.number(4);
  for (uint32_t i = 0; i < count; ++i) {
    if (!r.has(4)) return std::nullopt;
    const uint8_t type = data[r.at];
    r.at += 2;
    const std::size_t nameLength = r.number(2);
    if (!r.has(padded(nameLength))) return std::nullopt;
    const std::string_view settingName(reinterpret_cast<const char*>(data + r.at), nameLength);
    r.at += padded(nameLength);
    if (!r.has(4)) return std::nullopt;
    r.number(4);  // the serial of its last change
    switch (type) {
      case 0:  // integer
        if (!r.has(4)) return std::nullopt;
        if (settingName == name) return static_cast<int32_t>(r.number(4));
        r.at += 4;
        break;
      case 1: {  // string
        if (!r.has(4)) return std::nullopt;
        const std::size_t length = r.number(4);
        if (!r.has(padded(length)) || padded(length) < length) return std::nullopt;
        r.at += padded(length);
        break;
      }
      case 2:  // colour: four 16-bit channels
        if (!r.has(8)) return std::nullopt;
        r.at += 8;
        break;
      default: return std::nullopt;
    }
  }
  return std::nullopt;
}

int32_t resourceDpi(const char* text, std::size_t size) {
  if (!text) return 0;
  const std::string_view all(text, size);
  constexpr std::string_view name = "Xft.dpi:";
  for (std::size_t start = 0; start < all.size();) {
    std::size_t end = all.find('\n', start);
    if (end == std::string_view::npos) end = all.size();
    std::string_view line = all.substr(start, end - start);
    start = end + 1;
    if (line.substr(0, name.size()) != name) continue;
    line.remove_prefix(name.size());
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
    int32_t dpi = 0;
    std::size_t digits = 0;
    for (; digits < line.size() && line[digits] >= '0' && line[digits] <= '9' && dpi < 100000; ++digits)
      dpi = dpi * 10 + (line[digits] - '0');
    // "96" and "96.5" are both 96.
    return digits && (digits == line.size() || line[digits] == '.' || line[digits] == ' ' || line[digits] == '\t')
               ? dpi
               : 0;
  }
  return 0;
}

}  // namespace pel::x11
