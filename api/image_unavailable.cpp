// The formats a build has no library for: each call fails with the reason.
#include <string>

#include "api/image_codecs.h"

namespace pellucet::codec {

#if !defined(PEL_HAVE_PNG)
Image readPng(const uint8_t*, std::size_t) { return failed("PNG: this build has no PNG library"); }
bool writePng(const Image&, bool, std::vector<uint8_t>&) {
  failed("PNG: this build has no PNG library");
  return false;
}
#endif

#if !defined(PEL_HAVE_JPEG)
Image readJpeg(const uint8_t*, std::size_t) { return failed("JPEG: this build has no JPEG library"); }
#endif

}  // namespace pellucet::codec
