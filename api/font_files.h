// Loaded fonts inside the public layer: the glyph records text is drawn
// from, and the readers and renderers that fill them.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace pellucet {

// One glyph: its picture and where it goes, in pixels. Rows run top first;
// a 1-bit picture has each row's leftmost pixel in its first byte's top bit
// (as PSF and BDF keep them), an 8-bit one a coverage byte (0..255) a pixel.
struct GlyphShape {
  int32_t width = 0, height = 0;  // the picture
  int32_t pitch = 0;              // bytes from one row to the next
  int32_t left = 0;               // from the pen to the picture's first column
  int32_t top = 0;                // from the line's top to the picture's first row
  int32_t advance = 0;            // how far the pen moves after it
  std::size_t offset = 0;         // where the picture starts in GlyphSet::bits
};

// Glyphs by code point.
struct GlyphSet {
  int32_t height = 0;     // one line, top to top
  int32_t ascent = 0;     // from the line's top to the baseline
  bool coverage = false;  // 8-bit pictures, else 1-bit
  std::vector<GlyphShape> glyphs;
  std::vector<uint8_t> bits;
  std::unordered_map<char32_t, uint32_t> codes;  // code point -> index in glyphs
};

// Bitmap readers: true with `font` filled, or false with the reason in
// `why` ("PSF: ...", "BDF: ..."). Every size and count is checked against
// the data before it is used; fonts of more than 65536 glyphs or glyphs of
// more than 256 pixels a side are refused.
bool readPsf(const uint8_t* data, std::size_t size, GlyphSet& font, std::string& why);
bool readBdf(const uint8_t* data, std::size_t size, GlyphSet& font, std::string& why);

// An outline font open at a pixel size (FreeType, or the system's renderer
// on Windows); glyphs are rendered when first asked for.
struct OutlineFace;
// Whether this build renders outline fonts at all.
bool outlineFontsAvailable();
// Opens TrueType or OpenType data (kept by the caller while the face lives),
// filling `font`'s height and ascent; null with the reason in `why`.
OutlineFace* openOutline(const uint8_t* data, std::size_t size, int32_t pixelSize, GlyphSet& font, std::string& why);
// Renders `code` into `shape` (8-bit coverage appended to `bits`); false when
// the font has no glyph for it.
bool renderOutlineGlyph(OutlineFace* face, char32_t code, GlyphShape& shape, std::vector<uint8_t>& bits);
// The pen adjustment between two characters, in pixels.
int32_t outlineKerning(OutlineFace* face, char32_t left, char32_t right);
void closeOutline(OutlineFace* face);

}  // namespace pellucet

namespace pellucet {

// What a LoadedFont shares: the glyphs, and for an outline font its data
// and face. Glyphs are looked up with `lock` held: outline ones are added as
// they are first drawn.
struct LoadedFontData {
  static constexpr uint32_t noGlyph = UINT32_MAX;
  mutable GlyphSet set;
  std::vector<uint8_t> source;
  OutlineFace* outline = nullptr;
  mutable std::mutex lock;

  LoadedFontData() = default;
  LoadedFontData(const LoadedFontData&) = delete;
  LoadedFontData& operator=(const LoadedFontData&) = delete;
  ~LoadedFontData();
  // The glyph for a code (valid while `lock` is held), null when the font
  // has none.
  const GlyphShape* glyph(char32_t code) const;
  int32_t kerning(char32_t left, char32_t right) const;
};

class LoadedFont;
struct LoadedFontAccess {
  static std::shared_ptr<const LoadedFontData>& data(LoadedFont& font);
  static const std::shared_ptr<const LoadedFontData>& data(const LoadedFont& font);
};

}  // namespace pellucet
