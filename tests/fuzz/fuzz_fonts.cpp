// The PSF and BDF readers on any bytes, through loadFont and directly (the
// format sniffing sends each reader only its own magic): a failure says why;
// a font has every glyph's picture inside its bits and every size within the
// limits, and loadFont agrees with the reader its magic chooses.
#include <pellucet/pellucet.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "api/font_files.h"

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

// What every bitmap font read must be.
void checkBitmapFont(const pellucet::GlyphSet& font) {
  check(!font.coverage);
  check(font.height >= 1 && font.height <= 2048);
  check(font.ascent >= 0 && font.ascent <= font.height);
  check(!font.glyphs.empty() && font.glyphs.size() <= 65536);
  check(!font.codes.empty());
  for (const pellucet::GlyphShape& g : font.glyphs) {
    check(g.width >= 0 && g.width <= 256 && g.height >= 0 && g.height <= 256);
    check(g.pitch == (g.width + 7) / 8);
    check(g.offset <= font.bits.size());
    check(static_cast<std::size_t>(g.pitch) * static_cast<std::size_t>(g.height) <= font.bits.size() - g.offset);
    check(g.advance >= 0 && g.advance <= 1024);
    check(g.left >= -1024 && g.left <= 1024 && g.top >= -2048 && g.top <= 2048);
  }
  for (const auto& [code, index] : font.codes) {
    check(code <= 0x10FFFF && !(code >= 0xD800 && code <= 0xDFFF));
    check(index < font.glyphs.size());
  }
  // Reading every picture's bytes is what a renderer will do.
  unsigned sum = 0;
  for (const pellucet::GlyphShape& g : font.glyphs) {
    for (std::size_t i = 0; i < static_cast<std::size_t>(g.pitch) * g.height; ++i) sum += font.bits[g.offset + i];
  }
  volatile unsigned keep = sum;
  (void)keep;
}

bool readDirectly(bool (*reader)(const uint8_t*, std::size_t, pellucet::GlyphSet&, std::string&),
                  const std::vector<uint8_t>& bytes) {
  pellucet::GlyphSet font;
  std::string why;
  const bool ok = reader(bytes.empty() ? nullptr : bytes.data(), bytes.size(), font, why);
  if (ok) {
    checkBitmapFont(font);
  } else {
    check(!why.empty());
    check(font.glyphs.empty() && font.codes.empty() && font.bits.empty());
  }
  return ok;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // A copy of exactly the input's size, so any read past it is caught.
  const std::vector<uint8_t> bytes(data, data + size);
  const bool psfRead = readDirectly(pellucet::readPsf, bytes);
  const bool bdfRead = readDirectly(pellucet::readBdf, bytes);

  const pellucet::LoadedFont font = pellucet::loadFont(static_cast<const void*>(bytes.data()), bytes.size());
  const bool psfMagic = size >= 4 && ((data[0] == 0x72 && data[1] == 0xB5 && data[2] == 0x4A && data[3] == 0x86) ||
                                      (data[0] == 0x36 && data[1] == 0x04));
  const bool bdfMagic = size >= 9 && std::memcmp(data, "STARTFONT", 9) == 0;
  if (psfMagic) check(static_cast<bool>(font) == psfRead);
  if (bdfMagic) check(static_cast<bool>(font) == bdfRead);
  if (!font) {
    check(std::strlen(pellucet::lastFailure()) > 0);
    return 0;
  }
  const auto& shared = pellucet::LoadedFontAccess::data(font);
  check(shared != nullptr);
  if (shared->outline) return 0;
  check(psfMagic || bdfMagic);
  checkBitmapFont(shared->set);
  check(font.height() == shared->set.height);
  for (const auto& entry : shared->set.codes) check(font.covers(entry.first));
  return 0;
}
