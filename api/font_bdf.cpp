// BDF fonts.
#include "api/font_files.h"

namespace pellucet {

bool readBdf(const uint8_t*, std::size_t, GlyphSet&, std::string& why) {
  why = "BDF: not read yet";
  return false;
}

}  // namespace pellucet
