// Outline fonts through GDI's glyph renderer.
#include "api/font_files.h"

namespace pellucet {

bool outlineFontsAvailable() { return false; }
OutlineFace* openOutline(const uint8_t*, std::size_t, int32_t, GlyphSet&, std::string& why) {
  why = "TrueType and OpenType fonts are not read in this build";
  return nullptr;
}
bool renderOutlineGlyph(OutlineFace*, char32_t, GlyphShape&, std::vector<uint8_t>&) { return false; }
int32_t outlineKerning(OutlineFace*, char32_t, char32_t) { return 0; }
void closeOutline(OutlineFace*) {}

}  // namespace pellucet
