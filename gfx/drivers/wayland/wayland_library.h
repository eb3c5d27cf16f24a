// libwayland-client and libxkbcommon, looked up when the back end first
// opens rather than linked, so that programs start where they are missing
// (the back end then refuses and mode setting moves on); libdecor, which
// draws window frames where the compositor draws none, and
// libwayland-cursor, whose theme gives the pointer its picture, are
// optional. The
// protocol's inline requests call the client library through this table:
// include this header before any protocol header.
#pragma once

#include <wayland-client-core.h>
#include <wayland-cursor.h>
#include <xkbcommon/xkbcommon.h>

// Every entry point called, listed once per library.
#define PEL_WAYLAND_ENTRIES(X)                                                                                       \
  X(wl_display_connect) X(wl_display_disconnect) X(wl_display_dispatch_pending) X(wl_display_flush)                 \
  X(wl_display_get_error) X(wl_display_get_fd) X(wl_display_prepare_read) X(wl_display_read_events)                  \
  X(wl_display_cancel_read) X(wl_display_roundtrip) X(wl_proxy_add_listener) X(wl_proxy_destroy)                     \
  X(wl_proxy_get_user_data) X(wl_proxy_get_version) X(wl_proxy_marshal_flags) X(wl_proxy_set_user_data)         \
  X(wl_display_create_queue) X(wl_event_queue_destroy) X(wl_proxy_set_queue) X(wl_display_prepare_read_queue)       \
  X(wl_display_dispatch_queue_pending)
#define PEL_XKB_ENTRIES(X)                                                                                           \
  X(xkb_context_new) X(xkb_context_unref) X(xkb_keymap_new_from_string) X(xkb_keymap_unref) X(xkb_state_new)         \
  X(xkb_state_unref) X(xkb_state_update_mask) X(xkb_state_key_get_one_sym) X(xkb_state_key_get_utf32)                \
  X(xkb_state_mod_name_is_active) X(xkb_keymap_key_repeats) X(xkb_keymap_key_get_syms_by_level)                    \
  X(xkb_state_key_get_layout)

namespace pel::wayland {

struct Library {
#define PEL_WAYLAND_POINTER(name) decltype(&::name) name = nullptr;
  PEL_WAYLAND_ENTRIES(PEL_WAYLAND_POINTER)
  PEL_XKB_ENTRIES(PEL_WAYLAND_POINTER)
#undef PEL_WAYLAND_POINTER
};

// Both libraries, loaded on the first call; null when either or one of its
// entries is missing.
const Library* library();
// The loaded table; set once library() succeeded.
extern const Library* wl;

#define PEL_CURSOR_ENTRIES(X)                                                                                        \
  X(wl_cursor_theme_load) X(wl_cursor_theme_destroy) X(wl_cursor_theme_get_cursor) X(wl_cursor_image_get_buffer)

struct Cursors {
#define PEL_CURSOR_POINTER(name) decltype(&::name) name = nullptr;
  PEL_CURSOR_ENTRIES(PEL_CURSOR_POINTER)
#undef PEL_CURSOR_POINTER
};

// libwayland-cursor with every entry, loaded on the first call; null
// without it (the compositor's default pointer then stays).
const Cursors* cursorLibrary();

}  // namespace pel::wayland

// The requests generated from the protocol files call these by name.
#define wl_proxy_add_listener (pel::wayland::wl->wl_proxy_add_listener)
#define wl_proxy_destroy (pel::wayland::wl->wl_proxy_destroy)
#define wl_proxy_get_user_data (pel::wayland::wl->wl_proxy_get_user_data)
#define wl_proxy_get_version (pel::wayland::wl->wl_proxy_get_version)
#define wl_proxy_marshal_flags (pel::wayland::wl->wl_proxy_marshal_flags)
#define wl_proxy_set_user_data (pel::wayland::wl->wl_proxy_set_user_data)

#ifdef PEL_HAVE_LIBDECOR
#include <libdecor.h>

#define PEL_DECOR_ENTRIES(X)                                                                                         \
  X(libdecor_new) X(libdecor_unref) X(libdecor_decorate) X(libdecor_frame_unref) X(libdecor_frame_set_title)         \
  X(libdecor_frame_set_app_id) X(libdecor_frame_set_min_content_size) X(libdecor_frame_set_max_content_size)         \
  X(libdecor_frame_unset_capabilities) X(libdecor_frame_map) X(libdecor_frame_commit) X(libdecor_state_new)          \
  X(libdecor_state_free) X(libdecor_configuration_get_content_size) X(libdecor_configuration_get_window_state)       \
  X(libdecor_dispatch)

namespace pel::wayland {

struct Decor {
#define PEL_DECOR_POINTER(name) decltype(&::name) name = nullptr;
  PEL_DECOR_ENTRIES(PEL_DECOR_POINTER)
#undef PEL_DECOR_POINTER
};

// libdecor with every entry, loaded on the first call; null without it.
const Decor* decorLibrary();

}  // namespace pel::wayland
#endif
