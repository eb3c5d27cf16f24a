// Mesa's software driver (swrast_dri.so) keeps a block it allocated
// reachable only from its own data, and Mesa unloads the driver when the X
// connection closes; LeakSanitizer then sees that block as lost (128 bytes
// from realloc in an unknown module), even in a bare GLX program. Under the
// leak checker the GLX tests keep that one driver loaded for the whole
// process, so the checker can still see what it points to. Nothing is
// suppressed: a block lost by the runtime's own GLX code, or by any code
// other than that driver's own data, is still reported.
#pragma once

#include <dlfcn.h>

#include <string>

namespace mesa {

// Loads the software driver once more with RTLD_NODELETE, before Mesa loads
// it, so no later dlclose takes it away. Does nothing in builds without
// the leak checker.
inline void keepSoftwareDriverResident() {
#ifdef PEL_MESA_SOFTWARE_DRIVER
  static void* const driver = dlopen(PEL_MESA_SOFTWARE_DRIVER, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  (void)driver;
#endif
}

// The LD_PRELOAD value that keeps the driver resident in a program the
// tests start: the sanitizer runtime first (it must come first in the
// initial library list), then the small module that calls the function
// above before main. Empty in builds without the leak checker.
inline std::string preloadForChildren() {
#if defined(PEL_MESA_SOFTWARE_DRIVER) && defined(PEL_MESA_RESIDENT_MODULE)
  Dl_info info{};
  void* const asanSymbol = dlsym(RTLD_DEFAULT, "__asan_init");
  if (asanSymbol && dladdr(asanSymbol, &info) && info.dli_fname &&
      std::string(info.dli_fname).find("libasan") != std::string::npos) {
    return std::string(info.dli_fname) + " " + PEL_MESA_RESIDENT_MODULE;
  }
  return PEL_MESA_RESIDENT_MODULE;  // the runtime is linked into the program itself
#else
  return {};
#endif
}

}  // namespace mesa
