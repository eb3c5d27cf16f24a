#include "x11_library.h"

#include <dlfcn.h>

namespace pel::x11 {
namespace {

// Looks up every listed entry; false when one is missing. The library stays
// loaded for the life of the process.
template <typename Fill>
bool load(const char* file, Fill fill) {
  void* handle = dlopen(file, RTLD_NOW | RTLD_LOCAL);
  return handle && fill(handle);
}

template <typename T>
bool find(void* handle, const char* name, T& entry) {
  entry = reinterpret_cast<T>(dlsym(handle, name));
  return entry != nullptr;
}

Library loadAll(bool& ok) {
  Library l;
#define PEL_X11_FIND(name) && find(handle, #name, l.name)
  ok = load("libX11.so.6", [&](void* handle) {
    find(handle, "XSetIOErrorExitHandler", l.XSetIOErrorExitHandler);
    return true PEL_X11_ENTRIES(PEL_X11_FIND);
  });
  l.hasXext = ok && load("libXext.so.6", [&](void* handle) { return true PEL_XEXT_ENTRIES(PEL_X11_FIND); });
#ifdef PEL_HAVE_XRANDR
  l.hasXrandr = ok && load("libXrandr.so.2", [&](void* handle) { return true PEL_XRANDR_ENTRIES(PEL_X11_FIND); });
#endif
#undef PEL_X11_FIND
  return l;
}

}  // namespace

const Library* library() {
  static bool ok = false;
  static const Library loaded = loadAll(ok);
  return ok ? &loaded : nullptr;
}

}  // namespace pel::x11
