#include "conformance.h"

namespace pel::conformance {

std::vector<const Backend*> backendsOfThisBuild() {
  return {
#ifdef PEL_CONFORMANCE_X11
      &x11Backend,
#endif
#ifdef PEL_CONFORMANCE_GLX
      &glxBackend,
#endif
#ifdef PEL_CONFORMANCE_WAYLAND
      &waylandBackend,
#endif
#ifdef _WIN32
      &gdiBackend, &directXBackend, &direct2DBackend, &wglBackend,
#endif
      &nullBackend,
  };
}

}  // namespace pel::conformance
