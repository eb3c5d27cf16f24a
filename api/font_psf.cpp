// PSF fonts.
#include "api/font_files.h"

namespace pellucet {

bool readPsf(const uint8_t*, std::size_t, GlyphSet&, std::string& why) {
  why = "PSF: not read yet";
  return false;
}

}  // namespace pellucet
