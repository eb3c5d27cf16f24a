// Outline fonts through GDI, which every Windows has (no library to build
// for the cross compiler, none to look up at run time): the data is added as
// a font private to the process, chosen by its family name (read from the
// font's own 'name' table) on a memory device context, and its glyphs are
// rendered with GetGlyphOutlineW at 65 grey levels. GDI takes characters as
// UTF-16 units, so characters beyond U+FFFF are found through the font's
// own 32-bit character map (format 12) and rendered by glyph index; kerning
// pairs beyond U+FFFF are not seen.
#include <windows.h>

#include <cstring>
#include <mutex>
#include <string>
#include <unordered_map>

#include "api/font_files.h"

namespace pellucet {

namespace {

uint32_t be16(const uint8_t* p) { return uint32_t{p[0]} << 8 | p[1]; }
uint32_t be32(const uint8_t* p) { return be16(p) << 16 | be16(p + 2); }

// The first font's tables, every one checked to lie within the data.
struct Tables {
  const uint8_t* data = nullptr;
  std::size_t directory = 0;
  uint32_t count = 0;

  // A table's bytes, null (and `length` 0) when the font has none.
  const uint8_t* find(const char* tag, uint32_t& length) const {
    for (uint32_t i = 0; i < count; ++i) {
      const uint8_t* entry = data + directory + 12 + 16 * i;
      if (std::memcmp(entry, tag, 4) != 0) continue;
      length = be32(entry + 12);
      return data + be32(entry + 8);
    }
    length = 0;
    return nullptr;
  }
};

bool readTables(const uint8_t* data, std::size_t size, Tables& tables, std::string& why) {
  uint64_t directory = 0;
  if (std::memcmp(data, "ttcf", 4) == 0) {
    if (size < 16 || be32(data + 8) < 1) {
      why = "GDI: the font collection's header is cut short";
      return false;
    }
    directory = be32(data + 12);
  }
  if (directory + 12 > size) {
    why = "GDI: the font's table directory lies past the end of the data";
    return false;
  }
  const uint32_t count = be16(data + directory + 4);
  if (count == 0) {
    why = "GDI: the font's table directory lists no tables";
    return false;
  }
  if (directory + 12 + uint64_t{16} * count > size) {
    why = "GDI: the font's table directory (" + std::to_string(count) + " tables) does not fit in the data";
    return false;
  }
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* entry = data + directory + 12 + 16 * i;
    const uint64_t offset = be32(entry + 8), length = be32(entry + 12);
    if (offset + length > size) {
      std::string tag;
      for (int c = 0; c < 4; ++c) tag += entry[c] >= 0x20 && entry[c] < 0x7F ? static_cast<char>(entry[c]) : '?';
      why = "GDI: the font's '" + tag + "' table (bytes " + std::to_string(offset) + " to " +
            std::to_string(offset + length) + ") runs past the end of the data (" + std::to_string(size) + " bytes)";
      return false;
    }
  }
  tables = {data, static_cast<std::size_t>(directory), count};
  return true;
}

// The family name GDI chooses the font by: name 1 (or 16, the typographic
// family, when 1 is missing) for Windows (platform 3), US English first.
std::wstring familyName(const uint8_t* name, uint32_t length) {
  if (!name || length < 6) return {};
  const uint32_t count = be16(name + 2), storage = be16(name + 4);
  if (6 + uint64_t{12} * count > length) return {};
  int best = -1, bestRank = 0;
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* record = name + 6 + 12 * i;
    const uint32_t platform = be16(record), encoding = be16(record + 2), language = be16(record + 4);
    const uint32_t id = be16(record + 6), bytes = be16(record + 8), offset = be16(record + 10);
    if (platform != 3 || (encoding != 0 && encoding != 1 && encoding != 10) || (id != 1 && id != 16)) continue;
    if (bytes < 2 || uint64_t{storage} + offset + bytes > length) continue;
    const int rank = (id == 1 ? 2 : 0) + (language == 0x409 ? 1 : 0) + 1;
    if (rank > bestRank) best = static_cast<int>(i), bestRank = rank;
  }
  if (best < 0) return {};
  const uint8_t* record = name + 6 + 12 * best;
  const uint8_t* text = name + storage + be16(record + 10);
  std::wstring family;
  for (uint32_t i = 0; i + 1 < be16(record + 8); i += 2) family += static_cast<wchar_t>(be16(text + i));
  return family;
}

// The groups of the font's 32-bit character map (Windows, full repertoire,
// format 12), each 12 bytes: first and last code, first glyph.
const uint8_t* characterGroups(const uint8_t* cmap, uint32_t length, uint32_t& groups) {
  groups = 0;
  if (!cmap || length < 4) return nullptr;
  const uint32_t count = be16(cmap + 2);
  if (4 + uint64_t{8} * count > length) return nullptr;
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* record = cmap + 4 + 8 * i;
    const uint32_t offset = be32(record + 4);
    if (be16(record) != 3 || be16(record + 2) != 10 || uint64_t{offset} + 16 > length) continue;
    const uint8_t* table = cmap + offset;
    const uint32_t n = be32(table + 12);
    if (be16(table) != 12 || uint64_t{offset} + 16 + uint64_t{12} * n > length) continue;
    groups = n;
    return table + 16;
  }
  return nullptr;
}

}  // namespace

struct OutlineFace {
  HANDLE added = nullptr;
  HDC dc = nullptr;
  HFONT font = nullptr;
  HGDIOBJ previous = nullptr;
  int32_t pixelSize = 0, ascent = 0;
  uint32_t glyphCount = 0;
  const uint8_t* groups = nullptr;  // in the caller's data
  uint32_t groupCount = 0;
  std::unordered_map<uint32_t, int32_t> kerning;  // left << 16 | right -> pixels; read only once open
  std::mutex lock;                                // one device context serves every thread

  ~OutlineFace() {
    if (previous) SelectObject(dc, previous);
    if (font) DeleteObject(font);
    if (dc) DeleteDC(dc);
    if (added) RemoveFontMemResourceEx(added);
  }

  // The glyph for a character, 0 when the font has none.
  uint32_t glyphOf(char32_t code) {
    if (code <= 0xFFFF) {
      if (code >= 0xD800 && code <= 0xDFFF) return 0;
      const WCHAR unit = static_cast<WCHAR>(code);
      WORD index = 0xFFFF;
      if (GetGlyphIndicesW(dc, &unit, 1, &index, GGI_MARK_NONEXISTING_GLYPHS) != 1 || index == 0xFFFF) return 0;
      return index;
    }
    for (uint32_t i = 0; i < groupCount; ++i) {
      const uint8_t* group = groups + 12 * i;
      const uint32_t first = be32(group), last = be32(group + 4);
      if (code < first || code > last) continue;
      const uint64_t glyph = uint64_t{be32(group + 8)} + (code - first);
      return glyph < glyphCount ? static_cast<uint32_t>(glyph) : 0;
    }
    return 0;
  }
};

bool outlineFontsAvailable() { return true; }

OutlineFace* openOutline(const uint8_t* data, std::size_t size, int32_t pixelSize, GlyphSet& font, std::string& why) {
  if (!data || size < 4 || size > MAXDWORD || pixelSize < 1) {
    why = "GDI: no font data or no pixel size";
    return nullptr;
  }
  Tables tables;
  if (!readTables(data, size, tables, why)) return nullptr;
  uint32_t nameLength = 0, maxpLength = 0, os2Length = 0, cmapLength = 0;
  // (Each table is found before its length is passed on.)
  const uint8_t* name = tables.find("name", nameLength);
  const std::wstring family = familyName(name, nameLength);
  if (family.empty() || family.size() >= LF_FACESIZE) {
    why = family.empty() ? "GDI: the font's 'name' table gives no family name to choose it by"
                         : "GDI: the font's family name is longer than GDI takes (31 characters)";
    return nullptr;
  }
  const uint8_t* maxp = tables.find("maxp", maxpLength);
  if (!maxp || maxpLength < 6) {
    why = "GDI: the font has no 'maxp' table";
    return nullptr;
  }
  auto face = std::make_unique<OutlineFace>();
  face->pixelSize = pixelSize;
  face->glyphCount = be16(maxp + 4);
  if (face->glyphCount == 0) {
    why = "GDI: the font has no glyphs";
    return nullptr;
  }
  const uint8_t* cmap = tables.find("cmap", cmapLength);
  face->groups = characterGroups(cmap, cmapLength, face->groupCount);
  // The weight and slant from OS/2, so that a bold or italic member of a
  // family is the one chosen.
  const uint8_t* os2 = tables.find("OS/2", os2Length);
  int weight = os2 && os2Length >= 64 ? static_cast<int>(be16(os2 + 4)) : FW_NORMAL;
  if (weight < 1 || weight > 1000) weight = FW_NORMAL;  // CreateFontW takes no other
  const bool italic = os2 && os2Length >= 64 && (be16(os2 + 62) & 1) != 0;

  DWORD added = 0;
  face->added = AddFontMemResourceEx(const_cast<uint8_t*>(data), static_cast<DWORD>(size), nullptr, &added);
  if (!face->added || added == 0) {
    why = "GDI: the system refused the font data (AddFontMemResourceEx)";
    return nullptr;
  }
  face->dc = CreateCompatibleDC(nullptr);
  face->font = CreateFontW(-pixelSize, 0, 0, 0, weight, italic, FALSE, FALSE, DEFAULT_CHARSET, OUT_TT_ONLY_PRECIS,
                           CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY, DEFAULT_PITCH | FF_DONTCARE, family.c_str());
  if (!face->dc || !face->font || !(face->previous = SelectObject(face->dc, face->font))) {
    why = !face->dc ? "GDI: no memory device context could be made (CreateCompatibleDC)"
                    : "GDI: the font could not be made or chosen (CreateFontW, SelectObject)";
    return nullptr;
  }
  // GDI chooses by name alone: a font installed under the same family name
  // may be taken instead (or another when the name matches none), and Wine
  // keeps fonts added from memory until the process ends, so that a second
  // font of one name and style there gets the first. The whole file read
  // back through the device context says which one was chosen.
  const DWORD whole = std::memcmp(data, "ttcf", 4) == 0 ? ('t' | 't' << 8 | 'c' << 16 | 'f' << 24) : 0;
  if (GetFontData(face->dc, whole, 0, nullptr, 0) != size) {
    why = "GDI: choosing the font by its family name gave another font (one installed, or a stand-in)";
    return nullptr;
  }
  std::vector<uint8_t> chosen(size);
  if (GetFontData(face->dc, whole, 0, chosen.data(), static_cast<DWORD>(size)) != size ||
      std::memcmp(chosen.data(), data, size) != 0) {
    why = "GDI: choosing the font by its family name gave another font (one installed, or a stand-in)";
    return nullptr;
  }
  TEXTMETRICW metrics{};
  if (!GetTextMetricsW(face->dc, &metrics)) {
    why = "GDI: the font's metrics could not be read (GetTextMetricsW)";
    return nullptr;
  }
  if (metrics.tmHeight < 1 || metrics.tmHeight > int64_t{8} * pixelSize || metrics.tmAscent < 0 ||
      metrics.tmAscent > metrics.tmHeight) {
    why = "GDI: the font's line metrics make no sense (height " + std::to_string(metrics.tmHeight) + ", ascent " +
          std::to_string(metrics.tmAscent) + " at " + std::to_string(pixelSize) + " pixels)";
    return nullptr;
  }
  face->ascent = metrics.tmAscent;
  // Kerning pairs are read once: GDI gives them only all together.
  if (const DWORD pairs = GetKerningPairsW(face->dc, 0, nullptr); pairs > 0 && pairs < 1u << 20) {
    std::vector<KERNINGPAIR> list(pairs);
    const DWORD got = GetKerningPairsW(face->dc, pairs, list.data());
    for (DWORD i = 0; i < got && i < pairs; ++i) {
      const KERNINGPAIR& pair = list[i];
      // A pair kerned by more than the em is damage, not design.
      if (pair.iKernAmount == 0 || pair.iKernAmount < -pixelSize || pair.iKernAmount > pixelSize) continue;
      face->kerning[uint32_t{pair.wFirst} << 16 | pair.wSecond] = pair.iKernAmount;
    }
  }
  font.height = metrics.tmHeight;
  font.ascent = metrics.tmAscent;
  return face.release();
}

bool renderOutlineGlyph(OutlineFace* face, char32_t code, GlyphShape& shape, std::vector<uint8_t>& bits) {
  if (!face || code > 0x10FFFF) return false;
  const std::lock_guard<std::mutex> hold(face->lock);
  const uint32_t glyph = face->glyphOf(code);
  if (glyph == 0) return false;
  GLYPHMETRICS metrics{};
  const MAT2 identity{{0, 1}, {0, 0}, {0, 0}, {0, 1}};
  const UINT format = GGO_GRAY8_BITMAP | GGO_GLYPH_INDEX;
  const DWORD needed = GetGlyphOutlineW(face->dc, glyph, format, &metrics, 0, nullptr, &identity);
  if (needed == GDI_ERROR) return false;
  // A glyph much larger than the em would take a great deal of memory for
  // nothing; it is taken as missing.
  const int64_t largest = int64_t{4} * face->pixelSize + 64;
  if (metrics.gmCellIncX < -largest || metrics.gmCellIncX > largest) return false;
  shape.left = metrics.gmptGlyphOrigin.x;
  shape.top = face->ascent - metrics.gmptGlyphOrigin.y;
  shape.advance = metrics.gmCellIncX;
  shape.offset = bits.size();
  shape.width = shape.height = shape.pitch = 0;
  if (needed == 0) return true;  // nothing to draw (GDI still says 1 x 1)
  const uint32_t width = metrics.gmBlackBoxX, height = metrics.gmBlackBoxY;
  if (width > largest || height > largest) return false;
  const uint32_t pitch = (width + 3) & ~3u;  // GDI's rows are whole DWORDs
  if (needed < uint64_t{pitch} * height) return false;
  std::vector<uint8_t> levels(needed);
  if (GetGlyphOutlineW(face->dc, glyph, format, &metrics, needed, levels.data(), &identity) == GDI_ERROR) return false;
  shape.width = static_cast<int32_t>(width);
  shape.height = static_cast<int32_t>(height);
  shape.pitch = shape.width;
  bits.resize(bits.size() + static_cast<std::size_t>(width) * height);
  uint8_t* out = bits.data() + shape.offset;
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) {
      const uint32_t level = levels[y * pitch + x] > 64 ? 64 : levels[y * pitch + x];
      *out++ = static_cast<uint8_t>((level * 255 + 32) / 64);
    }
  }
  return true;
}

int32_t outlineKerning(OutlineFace* face, char32_t left, char32_t right) {
  if (!face || left > 0xFFFF || right > 0xFFFF) return 0;
  const auto pair = face->kerning.find(uint32_t{left} << 16 | right);
  return pair == face->kerning.end() ? 0 : pair->second;
}

void closeOutline(OutlineFace* face) { delete face; }

}  // namespace pellucet
