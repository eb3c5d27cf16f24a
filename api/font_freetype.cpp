// Outline fonts through FreeType: one FT_Library a face (a library must not
// be used from two threads at once, and faces of different fonts may be), the
// glyphs hinted and rendered to 8-bit coverage at the face's pixel size.
#include <ft2build.h>
#include FT_FREETYPE_H

#include <cstring>
#include <mutex>
#include <string>

#include "api/font_files.h"

namespace pellucet {

namespace {

// FreeType's messages for its error codes, from its own list.
#undef FTERRORS_H_
#define FT_ERRORDEF(e, v, s) {v, s},
#define FT_ERROR_START_LIST {
#define FT_ERROR_END_LIST }
struct FreeTypeError {
  int code;
  const char* message;
};
constexpr FreeTypeError freeTypeErrors[] =
#include FT_ERRORS_H
    ;

std::string freeTypeFailure(const std::string& step, FT_Error error) {
  const char* message = "unknown error";
  for (const FreeTypeError& e : freeTypeErrors) {
    if (e.code == error) message = e.message;
  }
  return "FreeType: " + step + ": " + message + " (error " + std::to_string(error) + ")";
}

uint32_t bigEndian32(const uint8_t* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

// FreeType reads tables when it first needs them and takes a table cut
// short by the end of the data as absent or shorter; a cut or damaged file is
// refused here instead, before it is opened: every table of the (first)
// font must lie within the data.
bool tablesWithin(const uint8_t* data, std::size_t size, std::string& why) {
  uint64_t directory = 0;
  if (std::memcmp(data, "ttcf", 4) == 0) {
    if (size < 16 || bigEndian32(data + 8) < 1) {
      why = "FreeType: the font collection's header is cut short";
      return false;
    }
    directory = bigEndian32(data + 12);
  }
  if (directory + 12 > size) {
    why = "FreeType: the font's table directory lies past the end of the data";
    return false;
  }
  const uint32_t tables = uint32_t{data[directory + 4]} << 8 | data[directory + 5];
  if (tables == 0) {
    why = "FreeType: the font's table directory lists no tables";
    return false;
  }
  if (directory + 12 + uint64_t{16} * tables > size) {
    why = "FreeType: the font's table directory (" + std::to_string(tables) + " tables) does not fit in the data";
    return false;
  }
  for (uint32_t i = 0; i < tables; ++i) {
    const uint8_t* entry = data + directory + 12 + 16 * i;
    const uint64_t offset = bigEndian32(entry + 8), length = bigEndian32(entry + 12);
    if (offset + length > size) {
      std::string tag;
      for (int c = 0; c < 4; ++c) tag += entry[c] >= 0x20 && entry[c] < 0x7F ? static_cast<char>(entry[c]) : '?';
      why = "FreeType: the font's '" + tag + "' table (bytes " + std::to_string(offset) + " to " +
            std::to_string(offset + length) + ") runs past the end of the data (" + std::to_string(size) + " bytes)";
      return false;
    }
  }
  return true;
}

// 26.6 fixed point to whole pixels.
int64_t ceilPixels(FT_Pos v) { return (static_cast<int64_t>(v) + 63) >> 6; }
int64_t roundPixels(FT_Pos v) { return (static_cast<int64_t>(v) + 32) >> 6; }

}  // namespace

struct OutlineFace {
  FT_Library library = nullptr;
  FT_Face face = nullptr;
  int32_t pixelSize = 0, ascent = 0;
  std::mutex lock;  // kerning may be asked while a glyph renders

  ~OutlineFace() {
    if (face) FT_Done_Face(face);
    if (library) FT_Done_FreeType(library);
  }
};

bool outlineFontsAvailable() { return true; }

OutlineFace* openOutline(const uint8_t* data, std::size_t size, int32_t pixelSize, GlyphSet& font, std::string& why) {
  if (!data || size == 0 || size > static_cast<std::size_t>(INT32_MAX) || pixelSize < 1) {
    why = "FreeType: no font data or no pixel size";
    return nullptr;
  }
  if (size < 4 || !tablesWithin(data, size, why)) {
    if (size < 4) why = "FreeType: the font data is too short";
    return nullptr;
  }
  auto face = std::make_unique<OutlineFace>();
  face->pixelSize = pixelSize;
  FT_Error error = FT_Init_FreeType(&face->library);
  if (error) {
    why = freeTypeFailure("starting", error);
    return nullptr;
  }
  error = FT_New_Memory_Face(face->library, data, static_cast<FT_Long>(size), 0, &face->face);
  if (error) {
    why = freeTypeFailure("opening the font", error);
    return nullptr;
  }
  if (face->face->num_glyphs < 1) {
    why = "FreeType: the font has no glyphs";
    return nullptr;
  }
  error = FT_Set_Pixel_Sizes(face->face, 0, static_cast<FT_UInt>(pixelSize));
  if (error) {
    why = freeTypeFailure("setting " + std::to_string(pixelSize) + " pixels", error);
    return nullptr;
  }
  const FT_Size_Metrics& metrics = face->face->size->metrics;
  const int64_t height = ceilPixels(metrics.height), ascent = ceilPixels(metrics.ascender);
  // A line of more than 8 ems, or a baseline outside the line, is a damaged
  // font rather than a design.
  if (height < 1 || height > int64_t{8} * pixelSize || ascent < 0 || ascent > height) {
    why = "FreeType: the font's line metrics make no sense (height " + std::to_string(height) + ", ascent " +
          std::to_string(ascent) + " at " + std::to_string(pixelSize) + " pixels)";
    return nullptr;
  }
  face->ascent = static_cast<int32_t>(ascent);
  font.height = static_cast<int32_t>(height);
  font.ascent = face->ascent;
  return face.release();
}

bool renderOutlineGlyph(OutlineFace* face, char32_t code, GlyphShape& shape, std::vector<uint8_t>& bits) {
  if (!face) return false;
  const std::lock_guard<std::mutex> hold(face->lock);
  const FT_UInt index = FT_Get_Char_Index(face->face, code);
  if (index == 0) return false;
  // Embedded bitmaps are left out: they may be 1-bit or colour, and every
  // glyph here is rendered the same way.
  if (FT_Load_Glyph(face->face, index, FT_LOAD_DEFAULT | FT_LOAD_NO_BITMAP)) return false;
  const FT_GlyphSlot slot = face->face->glyph;
  // A glyph much larger than the em would take a great deal of memory for
  // nothing; it is taken as missing.
  const int64_t largest = int64_t{4} * face->pixelSize + 64;
  if (ceilPixels(slot->metrics.width) > largest || ceilPixels(slot->metrics.height) > largest) return false;
  if (FT_Render_Glyph(slot, FT_RENDER_MODE_NORMAL)) return false;
  const FT_Bitmap& bitmap = slot->bitmap;
  if (bitmap.width > 0 && bitmap.rows > 0 && (bitmap.pixel_mode != FT_PIXEL_MODE_GRAY || bitmap.num_grays != 256)) {
    return false;
  }
  if (bitmap.width > largest + 2 || bitmap.rows > largest + 2) return false;
  const int64_t advance = roundPixels(slot->advance.x);
  if (advance < -largest || advance > largest) return false;
  shape.width = static_cast<int32_t>(bitmap.width);
  shape.height = static_cast<int32_t>(bitmap.rows);
  shape.pitch = shape.width;
  shape.left = slot->bitmap_left;
  shape.top = face->ascent - slot->bitmap_top;
  shape.advance = static_cast<int32_t>(advance);
  shape.offset = bits.size();
  bits.resize(bits.size() + static_cast<std::size_t>(shape.width) * shape.height);
  // FreeType's rows may be padded, or run bottom first (a negative pitch).
  for (int32_t y = 0; y < shape.height; ++y) {
    const std::ptrdiff_t pitch = bitmap.pitch;
    const uint8_t* row = pitch >= 0 ? bitmap.buffer + y * pitch : bitmap.buffer - (shape.height - 1 - y) * pitch;
    std::memcpy(bits.data() + shape.offset + static_cast<std::size_t>(y) * shape.width, row, shape.width);
  }
  return true;
}

int32_t outlineKerning(OutlineFace* face, char32_t left, char32_t right) {
  if (!face || !FT_HAS_KERNING(face->face)) return 0;
  const std::lock_guard<std::mutex> hold(face->lock);
  const FT_UInt first = FT_Get_Char_Index(face->face, left), second = FT_Get_Char_Index(face->face, right);
  if (first == 0 || second == 0) return 0;
  FT_Vector delta{};
  if (FT_Get_Kerning(face->face, first, second, FT_KERNING_DEFAULT, &delta)) return 0;
  // A pair kerned by more than the em is damage, not design.
  const int64_t pixels = roundPixels(delta.x);
  return pixels < -face->pixelSize || pixels > face->pixelSize ? 0 : static_cast<int32_t>(pixels);
}

void closeOutline(OutlineFace* face) { delete face; }

}  // namespace pellucet
