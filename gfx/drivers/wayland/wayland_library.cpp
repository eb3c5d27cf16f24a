#include "wayland_library.h"

#include <dlfcn.h>

namespace pel::wayland {

const Library* wl = nullptr;

namespace {

template <typename T>
bool find(void* handle, const char* name, T& entry) {
  entry = reinterpret_cast<T>(dlsym(handle, name));
  return entry != nullptr;
}

// The libraries stay loaded for the life of the process.
bool loadAll(Library& l) {
  void* client = dlopen("libwayland-client.so.0", RTLD_NOW | RTLD_LOCAL);
  void* xkb = client ? dlopen("libxkbcommon.so.0", RTLD_NOW | RTLD_LOCAL) : nullptr;
  if (!xkb) return false;
  // The table's names are macros for the protocol's sake; the pointers are
  // reached through a plain record here.
#undef wl_proxy_add_listener
#undef wl_proxy_destroy
#undef wl_proxy_get_user_data
#undef wl_proxy_get_version
#undef wl_proxy_marshal_flags
#undef wl_proxy_set_user_data
#define PEL_WAYLAND_FIND(name) &&find(client, #name, l.name)
#define PEL_XKB_FIND(name) &&find(xkb, #name, l.name)
  return true PEL_WAYLAND_ENTRIES(PEL_WAYLAND_FIND) PEL_XKB_ENTRIES(PEL_XKB_FIND);
#undef PEL_WAYLAND_FIND
#undef PEL_XKB_FIND
}

}  // namespace

const Library* library() {
  static Library loaded;
  static const bool ok = loadAll(loaded);
  if (ok) wl = &loaded;
  return ok ? &loaded : nullptr;
}

const Cursors* cursorLibrary() {
  static Cursors loaded;
  static const bool ok = [] {
    void* handle = dlopen("libwayland-cursor.so.0", RTLD_NOW | RTLD_LOCAL);
#define PEL_CURSOR_FIND(name) &&find(handle, #name, loaded.name)
    return handle PEL_CURSOR_ENTRIES(PEL_CURSOR_FIND);
#undef PEL_CURSOR_FIND
  }();
  return ok ? &loaded : nullptr;
}

#ifdef PEL_HAVE_LIBDECOR
const Decor* decorLibrary() {
  static Decor loaded;
  static const bool ok = [] {
    void* handle = dlopen("libdecor-0.so.0", RTLD_NOW | RTLD_LOCAL);
#define PEL_DECOR_FIND(name) &&find(handle, #name, loaded.name)
    return handle PEL_DECOR_ENTRIES(PEL_DECOR_FIND);
#undef PEL_DECOR_FIND
  }();
  return ok ? &loaded : nullptr;
}
#endif

}  // namespace pel::wayland
