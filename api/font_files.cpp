// Loaded fonts: the format told by the data's first bytes, the glyph table
// kept behind a shared record, outline glyphs rendered when first drawn.
#include "api/font_files.h"

#include <cstring>
#include <memory>
#include <string>

#include "api/internal.h"
#include "pellucet/pellucet.h"

namespace pellucet {

LoadedFontData::~LoadedFontData() {
  if (outline) closeOutline(outline);
}

const GlyphShape* LoadedFontData::glyph(char32_t code) const {
  const auto known = set.codes.find(code);
  if (known != set.codes.end()) return known->second == noGlyph ? nullptr : &set.glyphs[known->second];
  if (!outline) return nullptr;
  // Outline glyphs are rendered once, on first use; a miss is kept too.
  GlyphShape shape;
  shape.offset = set.bits.size();
  if (!renderOutlineGlyph(outline, code, shape, set.bits)) {
    set.bits.resize(shape.offset);
    set.codes.emplace(code, noGlyph);
    return nullptr;
  }
  set.glyphs.push_back(shape);
  set.codes.emplace(code, static_cast<uint32_t>(set.glyphs.size() - 1));
  return &set.glyphs.back();
}

int32_t LoadedFontData::kerning(char32_t left, char32_t right) const {
  return outline ? outlineKerning(outline, left, right) : 0;
}

std::shared_ptr<const LoadedFontData>& LoadedFontAccess::data(LoadedFont& font) { return font.data_; }
const std::shared_ptr<const LoadedFontData>& LoadedFontAccess::data(const LoadedFont& font) { return font.data_; }

int LoadedFont::height() const { return data_ ? data_->set.height : 0; }

bool LoadedFont::covers(char32_t code) const {
  if (!data_) return false;
  const std::lock_guard<std::mutex> hold(data_->lock);
  return data_->glyph(code) != nullptr;
}

bool LoadedFont::outlines() { return outlineFontsAvailable(); }

namespace {

// The largest font file read: GNU Unifont's BDF is about 10 MB, the largest
// common outline fonts some 30 MB.
constexpr int64_t largestFontFile = int64_t{64} << 20;

LoadedFont failedFont(std::string reason) {
  setPublicFailure(std::move(reason));
  return {};
}

bool isOutline(const uint8_t* b, std::size_t size) {
  if (size < 4) return false;
  return std::memcmp(b, "\0\1\0\0", 4) == 0 || std::memcmp(b, "OTTO", 4) == 0 || std::memcmp(b, "true", 4) == 0 ||
         std::memcmp(b, "ttcf", 4) == 0;
}

}  // namespace

LoadedFont loadFont(const void* data, std::size_t size, int pixelSize) {
  const auto* bytes = static_cast<const uint8_t*>(data);
  if (!bytes) return failedFont("no data given for a font");
  if (size < 4) return failedFont("the data is too short for a font (" + std::to_string(size) + " bytes)");
  if (pixelSize < 1 || pixelSize > 1024) {
    return failedFont("a pixel size of " + std::to_string(pixelSize) + " (1 to 1024)");
  }
  auto font = std::make_shared<LoadedFontData>();
  std::string why;
  bool ok;
  if ((bytes[0] == 0x72 && bytes[1] == 0xB5 && bytes[2] == 0x4A && bytes[3] == 0x86) ||
      (bytes[0] == 0x36 && bytes[1] == 0x04)) {
    ok = readPsf(bytes, size, font->set, why);
  } else if (size >= 9 && std::memcmp(bytes, "STARTFONT", 9) == 0) {
    ok = readBdf(bytes, size, font->set, why);
  } else if (isOutline(bytes, size)) {
    if (!outlineFontsAvailable()) return failedFont("TrueType and OpenType fonts are not read in this build");
    font->source.assign(bytes, bytes + size);
    font->outline = openOutline(font->source.data(), size, pixelSize, font->set, why);
    font->set.coverage = true;
    ok = font->outline != nullptr;
  } else {
    return failedFont("not a PSF, BDF, TrueType or OpenType font");
  }
  if (!ok) return failedFont(why);
  LoadedFont result;
  LoadedFontAccess::data(result) = std::move(font);
  return result;
}

LoadedFont loadFont(const char* path, int pixelSize) {
  if (!path) return failedFont("no path given to load from");
  std::vector<uint8_t> bytes;
  if (!readFile(path, bytes, largestFontFile, "font file")) return {};
  LoadedFont font = loadFont(bytes.data(), bytes.size(), pixelSize);
  if (!font) setPublicFailure(std::string(path) + ": " + lastFailure());
  return font;
}

}  // namespace pellucet
