#include "wayland_driver.h"
#include "wayland_testing.h"

#include "gfx/drivers/wayland/wayland_window.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "gfx/drivers/present.h"
#include "gfx/mode.h"
#include "gfx/pages.h"
#include "gfx/scale.h"

namespace pel {
namespace wayland {

WaylandWindow* win = nullptr;

namespace {

std::atomic<int64_t> passes{0};

// ---- Globals -----------------------------------------------------------------

void outputMode(void*, wl_output*, uint32_t flags, int32_t width, int32_t height, int32_t refresh) {
  if (!(flags & WL_OUTPUT_MODE_CURRENT)) return;
  win->outputW = width;
  win->outputH = height;
  win->outputRate = (refresh + 500) / 1000;  // millihertz
}
void outputScale(void*, wl_output*, int32_t factor) { win->outputScale = factor > 0 ? factor : 1; }
const wl_output_listener outputListener = {
    .geometry = [](void*, wl_output*, int32_t, int32_t, int32_t, int32_t, int32_t, const char*, const char*,
                   int32_t) {},
    .mode = outputMode,
    .done = [](void*, wl_output*) {},
    .scale = outputScale,
    .name = [](void*, wl_output*, const char*) {},
    .description = [](void*, wl_output*, const char*) {},
};

const xdg_wm_base_listener wmBaseListener = {
    .ping = [](void*, xdg_wm_base* base, uint32_t serial) { xdg_wm_base_pong(base, serial); },
};

template <typename T>
T* bind(wl_registry* registry, uint32_t name, const wl_interface* interface, uint32_t offered, uint32_t wanted) {
  return static_cast<T*>(wl_registry_bind(registry, name, interface, std::min(offered, wanted)));
}

void global(void*, wl_registry* registry, uint32_t name, const char* interface, uint32_t version) {
  const std::string_view is(interface);
  if (is == wl_compositor_interface.name) {
    win->compositor = bind<wl_compositor>(registry, name, &wl_compositor_interface, version, 4);
  } else if (is == wl_shm_interface.name) {
    win->shm = bind<wl_shm>(registry, name, &wl_shm_interface, version, 1);
  } else if (is == xdg_wm_base_interface.name) {
    win->wmBase = bind<xdg_wm_base>(registry, name, &xdg_wm_base_interface, version, 2);
    xdg_wm_base_add_listener(win->wmBase, &wmBaseListener, nullptr);
  } else if (is == zxdg_decoration_manager_v1_interface.name) {
    win->decorations =
        bind<zxdg_decoration_manager_v1>(registry, name, &zxdg_decoration_manager_v1_interface, version, 1);
  } else if (is == zwp_text_input_manager_v3_interface.name) {
    win->textInputs = bind<zwp_text_input_manager_v3>(registry, name, &zwp_text_input_manager_v3_interface, version, 1);
  } else if (is == wl_seat_interface.name && !win->seat) {
    // 5 for the wheels' notches (axis_discrete), 8 for high-resolution ones (axis_value120).
    win->seat = bind<wl_seat>(registry, name, &wl_seat_interface, version, 8);
    wl_seat_add_listener(win->seat, &seatListener, nullptr);
  } else if (is == wl_output_interface.name && !win->output) {
    win->output = bind<wl_output>(registry, name, &wl_output_interface, version, 2);
    wl_output_add_listener(win->output, &outputListener, nullptr);
  }
}
const wl_registry_listener registryListener = {
    .global = global,
    .global_remove = [](void*, wl_registry*, uint32_t) {},
};

// The compositor named by WAYLAND_DISPLAY, with the globals a window needs.
bool connect() {
  const char* name = std::getenv("WAYLAND_DISPLAY");
  if (!name || !*name) return false;
  win->display = wl->wl_display_connect(nullptr);
  if (!win->display) return false;
  win->registry = wl_display_get_registry(win->display);
  wl_registry_add_listener(win->registry, &registryListener, nullptr);
  // The globals, then the events they send as they are bound.
  if (wl->wl_display_roundtrip(win->display) < 0 || wl->wl_display_roundtrip(win->display) < 0) return false;
  startTextInput();
  return win->compositor && win->shm && win->wmBase;
}

template <typename T>
void destroyProxy(T*& proxy, void (*destroy)(T*)) {
  if (proxy) destroy(proxy);
  proxy = nullptr;
}

void disconnect() {
  if (!win->display) return;
#ifdef PEL_HAVE_LIBDECOR
  if (win->decor) decorLibrary()->libdecor_unref(win->decor);
  win->decor = nullptr;
#endif
  releaseInput();
  stopTextInput();
  destroyProxy(win->decorations, zxdg_decoration_manager_v1_destroy);
  destroyProxy(win->wmBase, xdg_wm_base_destroy);
  destroyProxy(win->output, wl_output_destroy);
  destroyProxy(win->seat, wl_seat_destroy);
  destroyProxy(win->shm, wl_shm_destroy);
  destroyProxy(win->compositor, wl_compositor_destroy);
  destroyProxy(win->registry, wl_registry_destroy);
  wl->wl_display_disconnect(win->display);
  win->display = nullptr;
}

// ---- Buffers ---------------------------------------------------------------

void releaseBuffer(void*, wl_buffer* buffer) {
  for (Buffer& b : win->buffers) {
    if (b.buffer == buffer) b.busy = false;
  }
}
const wl_buffer_listener bufferListener = {.release = releaseBuffer};

void destroyBuffers() {
  for (Buffer& b : win->buffers) {
    if (b.buffer) wl_buffer_destroy(b.buffer);
    b = Buffer{};
  }
  destroyProxy(win->pool, wl_shm_pool_destroy);
  if (win->mapping) munmap(win->mapping, win->mappingSize);
  if (win->poolFd >= 0) close(win->poolFd);
  win->mapping = nullptr;
  win->mappingSize = 0;
  win->poolFd = -1;
  win->bufferW = win->bufferH = 0;
}

// Buffers of the surface's size, black (transparent for shaped windows), each
// lacking the whole page.
bool createBuffers() {
  destroyBuffers();
  const int32_t w = win->targetW, h = win->targetH;
  if (w < 1 || h < 1 || int64_t{w} * h * 4 * bufferCount > INT32_MAX) return false;
  win->stride = w * 4;
  const auto one = static_cast<std::size_t>(win->stride) * static_cast<std::size_t>(h);
  win->mappingSize = one * bufferCount;
  win->poolFd = memfd_create("pellucet-buffers", MFD_CLOEXEC);
  if (win->poolFd < 0 || ftruncate(win->poolFd, static_cast<off_t>(win->mappingSize)) != 0) return false;
  void* mapped = mmap(nullptr, win->mappingSize, PROT_READ | PROT_WRITE, MAP_SHARED, win->poolFd, 0);
  if (mapped == MAP_FAILED) return false;
  win->mapping = static_cast<uint8_t*>(mapped);
  win->pool = wl_shm_create_pool(win->shm, win->poolFd, static_cast<int32_t>(win->mappingSize));
  const uint32_t format = win->argb ? WL_SHM_FORMAT_ARGB8888 : WL_SHM_FORMAT_XRGB8888;
  const ScreenMode* m = currentMode();
  for (int i = 0; i < bufferCount; ++i) {
    Buffer& b = win->buffers[i];
    b.pixels = win->mapping + one * static_cast<std::size_t>(i);
    b.buffer = wl_shm_pool_create_buffer(win->pool, static_cast<int32_t>(one) * i, w, h, win->stride, format);
    wl_buffer_add_listener(b.buffer, &bufferListener, nullptr);
    b.stale = {0, m ? m->height : 0};
    b.fresh = true;
    if (!win->argb) std::fill_n(reinterpret_cast<uint32_t*>(b.pixels), one / 4, 0xFF000000u);
  }
  win->bufferW = w;
  win->bufferH = h;
  return true;
}

// ---- The picture -----------------------------------------------------------

bool scaled() { return win->picture.width != win->width || win->picture.height != win->height; }

// A zoomed window's size on the surface, which counts in the output's
// logical pixels: the zoom counts real ones.
Size zoomedSize() {
  const int32_t s = win->bufferScale;
  return {(win->width * win->zoom + s - 1) / s, (win->height * win->zoom + s - 1) / s};
}

// The picture's place in the buffers of a surface of this size: scaled to it,
// centred, in full screen and in resizable windows; at its zoom, centred, in
// zoomed ones; at the corner otherwise.
void placePicture(int32_t w, int32_t h) {
  const bool full = win->rules.modeFlags & modeflag::fullScreen;
  win->targetW = w * win->bufferScale;
  win->targetH = h * win->bufferScale;
  // The picture's place is in buffer pixels; the area the program hears of,
  // in the window's.
  const PictureRect inBuffer =
      pictureInWindow(win->targetW, win->targetH, win->width, win->height,
                      win->argb || !(full || win->scale.on()) ? PicturePlace::corner : PicturePlace::scaled,
                      full || win->scale.resizable ? 0 : win->zoom);
  placeWindow(*win, w, h, inBuffer, win->bufferScale);
  markAllRows();
}

// A shaped window's pixels carry their alpha: none where the colour key is.
void addAlpha(uint8_t* row, int32_t width, const ScreenMode* m, int32_t pageRow) {
  auto* out = reinterpret_cast<uint32_t*>(row);
  const uint8_t* source = m->visibleBuffer + static_cast<std::size_t>(pageRow) * m->pitch;
  for (int32_t x = 0; x < width; ++x) out[x] = isColourKey(source, x, m->bytesPerPixel) ? 0 : out[x] | 0xFF000000u;
}

// XRGB's unused byte set: compositors ignore it, but screenshots and
// tools that take it for alpha see the picture as it is.
// As fast as a plain copy; `out` may be `in`.
void opaqueCopy(uint32_t* out, const uint32_t* in, int32_t count) {
  int32_t x = 0;
#if defined(__SSE2__)
  const __m128i opaque = _mm_set1_epi32(static_cast<int32_t>(0xFF000000u));
  for (; x + 8 <= count; x += 8) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + x));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + x + 4));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), _mm_or_si128(a, opaque));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x + 4), _mm_or_si128(b, opaque));
  }
#endif
  for (; x < count; ++x) out[x] = in[x] | 0xFF000000u;
}

// Shaped windows take the pointer only on their opaque pixels: the runs of
// them, row by row, as the input region.
void findOpaqueRuns(const uint32_t* row, int32_t y) {
  win->opaqueRuns.resize(static_cast<std::size_t>(win->height));
  auto& runs = win->opaqueRuns[static_cast<std::size_t>(y)];
  runs.clear();
  for (int32_t x = 0; x < win->width;) {
    while (x < win->width && !(row[x] >> 24)) ++x;
    const int32_t start = x;
    while (x < win->width && (row[x] >> 24)) ++x;
    if (x > start) runs.push_back({start, x});
  }
}

void setInputRegion() {
  wl_region* region = wl_compositor_create_region(win->compositor);
  const auto& rows = win->opaqueRuns;
  for (std::size_t y = 0; y < rows.size();) {
    // Rows alike go in as one rectangle a run.
    std::size_t end = y + 1;
    while (end < rows.size() && rows[end] == rows[y]) ++end;
    for (const auto& [from, to] : rows[y]) {
      wl_region_add(region, win->picture.x + from, win->picture.y + static_cast<int32_t>(y), to - from,
                    static_cast<int32_t>(end - y));
    }
    y = end;
  }
  wl_surface_set_input_region(win->surface, region);
  wl_region_destroy(region);
}

void frameCallbackDone(void*, wl_callback* callback, uint32_t) {
  wl_callback_destroy(callback);
  if (win->frame == callback) win->frame = nullptr;
  {
    std::lock_guard guard(win->frameLock);
    ++win->framesDone;
  }
  win->frameDone.notify_all();
}
const wl_callback_listener frameListener = {.done = frameCallbackDone};

// The page rows that changed, converted into a free buffer (with the rows
// it lacks from earlier frames), damaged and committed. Waits for the
// compositor's frame callback between commits, which paces the window to
// the output.
void present() {
  ScreenMode* m = currentMode();
  if (!m || !win->surface || !win->configured || win->frame || win->lost) return;
  const RowSpan band = dirtyRows(m);
  if (band.first == band.end) return;
  if (win->bufferW != win->targetW || win->bufferH != win->targetH) {
    if (!createBuffers()) return;
  }
  Buffer* b = nullptr;
  for (Buffer& candidate : win->buffers) {
    if (!candidate.busy) b = &candidate;
  }
  if (!b) return;
  // This buffer's own arrears join the band.
  const RowSpan rows = joined(band, b->stale);
  std::memset(m->dirty + rows.first, 1, static_cast<std::size_t>(rows.end - rows.first));

  const PictureRect& p = win->picture;
  uint8_t* corner = b->pixels + static_cast<std::size_t>(p.y) * win->stride + static_cast<std::size_t>(p.x) * 4;
  auto out = [&](int32_t y) { return reinterpret_cast<uint32_t*>(corner + static_cast<std::size_t>(y) * win->stride); };
  const int32_t repeat = m->scanlineRepeat;
  // What changed since the buffer shown last: the band, in buffer rows.
  RowSpan damaged{band.first * repeat, band.end * repeat};
  const PresentedRows written =
      win->presenter.take(m, p.width, p.height, corner, static_cast<std::size_t>(win->stride));
  if (written.empty()) return;
  if (scaled()) {
    // Scaled straight into the buffer, then made opaque where it is.
    for (int32_t y = written.rows.first; y < written.rows.end; ++y) opaqueCopy(out(y), out(y), p.width);
    damaged = win->presenter.shownRows(damaged);
  } else if (m->bytesPerPixel != 4 || win->argb) {
    for (int32_t y = written.rows.first; y < written.rows.end; ++y) {
      if (win->argb) {
        addAlpha(reinterpret_cast<uint8_t*>(out(y)), win->width, m, y / repeat);
      } else {
        opaqueCopy(out(y), out(y), win->width);
      }
    }
    if (win->argb) {
      for (int32_t y = damaged.first; y < damaged.end; ++y) findOpaqueRuns(out(y), y);
      setInputRegion();
    }
  }
  finishPresent(m, true);
  b->stale = {};
  for (Buffer& other : win->buffers) {
    if (&other == b) continue;
    other.stale = joined(other.stale, band);
  }
  // The buffer differs from the one shown before only in the band (bars
  // included when the whole surface is new).
  if (damaged.end > damaged.first) {
    wl_surface_damage_buffer(win->surface, p.x, p.y + damaged.first, p.width, damaged.end - damaged.first);
  }
  if (b->fresh) wl_surface_damage_buffer(win->surface, 0, 0, win->bufferW, win->bufferH);
  b->fresh = false;
  wl_surface_attach(win->surface, b->buffer, 0, 0);
  win->frame = wl_surface_frame(win->surface);
  wl_callback_add_listener(win->frame, &frameListener, nullptr);
  wl_surface_commit(win->surface);
  b->busy = true;
}

// ---- The window ------------------------------------------------------------

void toplevelConfigure(void*, xdg_toplevel*, int32_t width, int32_t height, wl_array* states) {
  win->askedW = width;
  win->askedH = height;
  win->askedFull = win->askedMaximised = false;
  const auto* state = static_cast<const uint32_t*>(states->data);
  for (std::size_t i = 0; i < states->size / sizeof(uint32_t); ++i) {
    if (state[i] == XDG_TOPLEVEL_STATE_FULLSCREEN) win->askedFull = true;
    if (state[i] == XDG_TOPLEVEL_STATE_MAXIMIZED) win->askedMaximised = true;
  }
}

// After the first configure: full screen or maximised asked for a window, or
// full screen taken away.
void noteSwitch() {
  const bool full = win->rules.modeFlags & modeflag::fullScreen;
  if (win->configured && !win->scale.resizable &&
      (full ? !win->askedFull : win->askedFull || win->askedMaximised)) {
    win->switchAsked = true;
  }
}
const xdg_toplevel_listener toplevelListener = {
    .configure = toplevelConfigure,
    .close = [](void*, xdg_toplevel*) { closeRequest(win->rules); },
    .configure_bounds = [](void*, xdg_toplevel*, int32_t, int32_t) {},
    .wm_capabilities = [](void*, xdg_toplevel*, wl_array*) {},
};

// The surface's size: what the compositor asks for in full screen and for
// resizable windows, the picture at its zoom otherwise.
void surfaceConfigure(void*, xdg_surface* surface, uint32_t serial) {
  xdg_surface_ack_configure(surface, serial);
  noteSwitch();
  const bool full = win->rules.modeFlags & modeflag::fullScreen;
  auto [w, h] = zoomedSize();
  if ((full || win->scale.resizable) && win->askedW > 0 && win->askedH > 0) {
    w = win->askedW;
    h = win->askedH;
  } else if (full && win->outputW > 0 && win->outputH > 0) {
    w = win->outputW / win->outputScale;
    h = win->outputH / win->outputScale;
  }
  if (!win->configured || w != win->windowW || h != win->windowH) placePicture(w, h);
  win->configured = true;
}
const xdg_surface_listener xdgSurfaceListener = {.configure = surfaceConfigure};

// The first configure, which the first buffer must follow.
bool firstConfigure() {
  while (!win->configured) {
    if (wl->wl_display_roundtrip(win->display) < 0) return false;
  }
  markAllRows();
  present();
  wl->wl_display_flush(win->display);
  return true;
}

// A framed window where the compositor draws no frames: libdecor draws them.
#ifdef PEL_HAVE_LIBDECOR
bool drawsFrames() {
  const int32_t flags = win->rules.modeFlags;
  const bool framed = !(flags & (modeflag::fullScreen | modeflag::noFrame | modeflag::shaped));
  return framed && (!win->decorations || win->framesRefused) && decorLibrary();
}

// libdecor's plugins run their own work (frame surfaces, cursors, their
// toolkit's loop) when dispatched; the events themselves are read already.
void dispatchFrames() {
  if (win->decor) decorLibrary()->libdecor_dispatch(win->decor, 0);
}

void decorConfigure(libdecor_frame* frame, libdecor_configuration* configuration, void*) {
  const Decor* d = decorLibrary();
  auto [w, h] = zoomedSize();
  int asked = 0, askedH = 0;
  if (win->scale.resizable && d->libdecor_configuration_get_content_size(configuration, frame, &asked, &askedH) &&
      asked > 0 && askedH > 0) {
    w = asked;
    h = askedH;
  }
  libdecor_window_state shown = LIBDECOR_WINDOW_STATE_NONE;
  if (d->libdecor_configuration_get_window_state(configuration, &shown)) {
    win->askedFull = shown & LIBDECOR_WINDOW_STATE_FULLSCREEN;
    win->askedMaximised = shown & LIBDECOR_WINDOW_STATE_MAXIMIZED;
    noteSwitch();
  }
  libdecor_state* state = d->libdecor_state_new(w, h);
  d->libdecor_frame_commit(frame, state, configuration);
  d->libdecor_state_free(state);
  if (!win->configured || w != win->windowW || h != win->windowH) placePicture(w, h);
  win->configured = true;
}

// Their reserved entries stay empty.
libdecor_interface decorInterface = [] {
  libdecor_interface i{};
  i.error = [](libdecor*, libdecor_error, const char*) {};
  return i;
}();
libdecor_frame_interface decorFrameInterface = [] {
  libdecor_frame_interface i{};
  i.configure = decorConfigure;
  i.close = [](libdecor_frame*, void*) { closeRequest(win->rules); };
  i.commit = [](libdecor_frame*, void*) { wl_surface_commit(win->surface); };
  i.dismiss_popup = [](libdecor_frame*, const char*, void*) {};
  return i;
}();

bool initDecoratedWindow() {
  const Decor* d = decorLibrary();
  if (!win->decor) win->decor = d->libdecor_new(win->display, &decorInterface);
  if (!win->decor) return false;
  win->decorFrame = d->libdecor_decorate(win->decor, win->surface, &decorFrameInterface, nullptr);
  if (!win->decorFrame) return false;
  d->libdecor_frame_set_title(win->decorFrame, win->title.current().c_str());
  d->libdecor_frame_set_app_id(win->decorFrame, appId());
  if (!win->scale.resizable) {
    const auto [w, h] = zoomedSize();
    d->libdecor_frame_set_min_content_size(win->decorFrame, w, h);
    d->libdecor_frame_set_max_content_size(win->decorFrame, w, h);
    d->libdecor_frame_unset_capabilities(win->decorFrame,
                                         static_cast<libdecor_capabilities>(LIBDECOR_ACTION_RESIZE | LIBDECOR_ACTION_FULLSCREEN));
  }
  d->libdecor_frame_map(win->decorFrame);
  return firstConfigure();
}
#else
bool drawsFrames() { return false; }
bool initDecoratedWindow() { return false; }
void dispatchFrames() {}
#endif

// The frames the compositor will draw: client-side ones for a window that
// asked for its frames means it draws none.
const zxdg_toplevel_decoration_v1_listener decorationListener = {
    .configure = [](void*, zxdg_toplevel_decoration_v1*, uint32_t mode) { win->decorationMode = mode; },
};

void exitWindow(void*);

bool initWindow(void* = nullptr) {
  const int32_t flags = win->rules.modeFlags;
  const bool full = flags & modeflag::fullScreen;
  win->argb = (flags & modeflag::shaped) && !full;
  // Scaled pictures are drawn in the output's real pixels; the others at the
  // page's size, which the compositor scales on a HiDPI output.
  win->bufferScale = (full || win->scale.on()) && !win->argb ? std::max(win->outputScale, 1) : 1;
  win->zoom = 1;
  if (win->scale.on() && !win->argb) {
    const int32_t areaW = win->outputW > 0 ? win->outputW : win->width;
    const int32_t areaH = win->outputH > 0 ? win->outputH : win->height;
    win->zoom = chooseZoom(win->scale, areaW, areaH, win->width, win->height, win->outputScale);
  }
  win->configured = false;
  win->surface = wl_compositor_create_surface(win->compositor);
  if (win->bufferScale > 1) wl_surface_set_buffer_scale(win->surface, win->bufferScale);
  if (drawsFrames()) return initDecoratedWindow();
  win->xdgSurface = xdg_wm_base_get_xdg_surface(win->wmBase, win->surface);
  xdg_surface_add_listener(win->xdgSurface, &xdgSurfaceListener, nullptr);
  win->toplevel = xdg_surface_get_toplevel(win->xdgSurface);
  xdg_toplevel_add_listener(win->toplevel, &toplevelListener, nullptr);
  xdg_toplevel_set_title(win->toplevel, win->title.current().c_str());
  xdg_toplevel_set_app_id(win->toplevel, appId());
  // A fixed size keeps tiling compositors from stretching the window (they
  // float it); resizable windows take any size.
  if (!full && !win->scale.resizable) {
    const auto [w, h] = zoomedSize();
    xdg_toplevel_set_min_size(win->toplevel, w, h);
    xdg_toplevel_set_max_size(win->toplevel, w, h);
  }
  if (win->decorations) {
    win->decoration = zxdg_decoration_manager_v1_get_toplevel_decoration(win->decorations, win->toplevel);
    const bool framed = !full && !(flags & modeflag::noFrame) && !win->argb;
    zxdg_toplevel_decoration_v1_add_listener(win->decoration, &decorationListener, nullptr);
    zxdg_toplevel_decoration_v1_set_mode(win->decoration, framed ? ZXDG_TOPLEVEL_DECORATION_V1_MODE_SERVER_SIDE
                                                                 : ZXDG_TOPLEVEL_DECORATION_V1_MODE_CLIENT_SIDE);
  }
  if (full) xdg_toplevel_set_fullscreen(win->toplevel, win->output);
  wl_surface_commit(win->surface);
  // The decoration's answer comes before the first configure. A framed
  // window the compositor leaves to frame itself is made again for libdecor
  // to frame (without libdecor it stays bare, noted).
  while (!win->configured) {
    if (wl->wl_display_roundtrip(win->display) < 0) return false;
  }
  const bool framed = !full && !(flags & modeflag::noFrame) && !win->argb;
  if (framed && win->decorationMode == ZXDG_TOPLEVEL_DECORATION_V1_MODE_CLIENT_SIDE && !win->framesRefused) {
    win->framesRefused = true;
    if (drawsFrames()) {
      exitWindow(nullptr);
      return initWindow();
    }
  }
  return firstConfigure();
}

void exitWindow(void* = nullptr) {
  if (win->frame) wl_callback_destroy(win->frame);
  win->frame = nullptr;
#ifdef PEL_HAVE_LIBDECOR
  if (win->decorFrame) decorLibrary()->libdecor_frame_unref(win->decorFrame);
  win->decorFrame = nullptr;
#endif
  destroyProxy(win->decoration, zxdg_toplevel_decoration_v1_destroy);
  win->decorationMode = 0;
  destroyProxy(win->toplevel, xdg_toplevel_destroy);
  destroyProxy(win->xdgSurface, xdg_surface_destroy);
  destroyProxy(win->surface, wl_surface_destroy);
  destroyBuffers();
  win->opaqueRuns.clear();
  win->configured = false;
  win->switchAsked = false;
  std::memset(win->keyDown, 0, sizeof win->keyDown);
  win->repeatKey = 0;
  // The frame callback that will never come no longer holds up waitVsync.
  win->frameDone.notify_all();
}

void applyTitle() {
  std::string title;
  if (!win->title.takeChange(title)) return;
  if (win->toplevel) xdg_toplevel_set_title(win->toplevel, title.c_str());
#ifdef PEL_HAVE_LIBDECOR
  if (win->decorFrame) decorLibrary()->libdecor_frame_set_title(win->decorFrame, title.c_str());
#endif
}

// Platform calls of the window rules; the caller holds the presentation
// lock. Wayland lets no client move or confine the pointer by itself.
const WindowPlatform platformCalls = {
    .updateCursor = [](void*) { updateCursor(); },  // from the program's setMouse: takes the lock itself
    .initWindow = [](void*) { return initWindow(); },
    .exitWindow = [](void*) { exitWindow(); },
};

// ---- The window thread -----------------------------------------------------

// Waits timeoutMs at most (-1: no limit) for the compositor's events or a
// wake from the program, and dispatches the events under the lock. False
// when the connection is gone.
bool waitForEvents(int timeoutMs) {
  wl_display* d = win->display;
  while (wl->wl_display_prepare_read(d) != 0) {
    std::lock_guard guard(win->presentation);
    if (wl->wl_display_dispatch_pending(d) < 0) return false;
  }
  if (wl->wl_display_flush(d) < 0 && errno != EAGAIN) {
    wl->wl_display_cancel_read(d);
    return false;
  }
  const short events = win->wake.sleep(wl->wl_display_get_fd(d), timeoutMs);
  if (events & POLLIN) {
    if (wl->wl_display_read_events(d) < 0) return false;
  } else {
    wl->wl_display_cancel_read(d);
    if (events & (POLLHUP | POLLERR)) return false;
  }
  std::lock_guard guard(win->presentation);
  return wl->wl_display_dispatch_pending(d) >= 0;
}

// A framed window where neither the compositor nor libdecor draws frames is
// left to the X11 back end, whose windows XWayland frames, when an X display
// is there.
bool unframed() {
  const int32_t flags = win->rules.modeFlags;
  const bool framed = !(flags & (modeflag::fullScreen | modeflag::noFrame | modeflag::shaped));
  const char* x = std::getenv("DISPLAY");
  return framed && !win->decorations && !drawsFrames() && x && *x;
}

void threadMain() {
  const char* failure = !connect()     ? "no Wayland compositor answers (is WAYLAND_DISPLAY set?)"
                        : unframed()     ? "the compositor draws no window frames (X11 does)"
                        : !initWindow()  ? "the window could not be made"
                                         : nullptr;
  if (failure) refuseBecause(failure);
  if (!failure) {
    // Active from the start, as on X11; the keyboard's focus events follow.
    std::lock_guard guard(win->presentation);
    activation(win->rules, true);
  }
  win->start.report(!failure);
  if (failure) {
    if (win->display) exitWindow();
    disconnect();
    return;
  }
  bool told = false;
  while (win->running) {
    if (win->lost) {
      if (!told) {
        std::lock_guard guard(win->presentation);
        closeRequest(win->rules);
        told = true;
      }
      win->frameDone.notify_all();
      // Nothing comes from the compositor any more: asleep until the exit.
      win->wake.sleep(-1, -1);
      continue;
    }
    // Asleep until the compositor sends something (a frame callback, a
    // released buffer, input) or the program wakes the thread; a held key
    // is the one deadline.
    int timeout = -1;
    {
      std::lock_guard guard(win->presentation);
      applyTitle();
      if (win->switchAsked) {
        win->switchAsked = false;
        toggleFullScreen(win->rules);
      }
      repeatKeys();
      present();
      // libdecor's plugins work on the compositor's events, which wake the
      // thread; dispatched on each pass.
      dispatchFrames();
      timeout = repeatDueIn();
    }
    ++passes;
    if (!waitForEvents(timeout)) win->lost = true;
  }
  std::lock_guard guard(win->presentation);
  exitWindow();
  disconnect();
}

// ---- The operations --------------------------------------------------------

int32_t init(const char* title, int32_t width, int32_t height, int32_t, int32_t, int32_t flags) {
  if (refusesOpenGlMode(flags)) return -1;
  const char* name = std::getenv("WAYLAND_DISPLAY");
  if (!name || !*name) {
    refuseBecause("no Wayland display (WAYLAND_DISPLAY is not set)");
    return -1;
  }
  if (win) return -1;
  if (!library()) {
    refuseBecause("libwayland-client or libxkbcommon is missing");
    return -1;
  }
  win = new WaylandWindow;
  win->width = width;
  win->height = height;
  win->title.set(title);
  win->scale = requestedWindowScale();
  resetWindowRules(win->rules, platformCalls, width, height, flags);
  // wl_shm's XRGB8888 is the 32-bit pages' own order: they are copied as
  // they are, made opaque.
  const ScreenMode* m = currentMode();
  win->presenter.setFormat(m && m->bytesPerPixel == 4 ? nullptr : selectBlitter(32, 0), 4,
                           [](uint8_t* out, const uint8_t* in, int32_t count) {
                             opaqueCopy(reinterpret_cast<uint32_t*>(out), reinterpret_cast<const uint32_t*>(in), count);
                           });
  if (!win->wake.open()) {
    delete win;
    win = nullptr;
    refuseBecause("no descriptor to wake the window thread with");
    return -1;
  }
  win->start.reset();
  win->running = true;
  win->thread = std::thread(threadMain);
  if (!win->start.wait()) {
    win->running = false;
    win->thread.join();
    win->wake.close();
    delete win;
    win = nullptr;
    return -1;
  }
  publishWindowZoom(win->zoom);
  return 0;
}

void shutDown() {
  if (!win) return;
  win->running = false;
  win->wake.wake();
  ScreenMode* m = currentMode();
  if (m && m->lockCount != 0) {
    m->lockCount = 0;
    win->presentation.unlock();
  }
  if (win->thread.joinable()) win->thread.join();
  win->wake.close();
  publishWindowZoom(0);
  delete win;
  win = nullptr;
}

// The next frame the compositor reports done, or a refresh's time when
// none is on its way.
void waitVsync() {
  if (!win) return;
  const int32_t rate = win->outputRate > 0 ? win->outputRate : 60;
  const auto period = std::chrono::milliseconds(1000 / rate);
  // A frame is coming when one was committed or rows wait to be; the
  // program may hold the lock already (the runtime counts its holds).
  ScreenMode* m = currentMode();
  const bool held = m && m->lockCount != 0;
  if (!held) win->presentation.lock();
  bool coming = win->frame != nullptr;
  for (int32_t y = 0; m && !coming && y < m->height; ++y) coming = m->dirty[y] != 0;
  std::unique_lock wait(win->frameLock);
  const int64_t seen = win->framesDone;
  if (!held) win->presentation.unlock();
  if (!coming) {
    wait.unlock();
    std::this_thread::sleep_for(period);
    return;
  }
  win->frameDone.wait_for(wait, period * 3, [seen] { return win->framesDone != seen || win->lost; });
}

int32_t getMouse(int32_t* x, int32_t* y, int32_t* wheel, int32_t* buttons, int32_t* clip) {
  return win ? rulesGetMouse(win->rules, x, y, wheel, buttons, clip) : -1;
}

int32_t setMouse(int32_t x, int32_t y, int32_t cursor, int32_t clip) {
  if (win) rulesSetMouse(win->rules, x, y, cursor, clip);
  return 0;
}

void setTitle(const char* title) {
  if (!win) return;
  win->title.set(title);
  win->wake.wake();
}

// The output's current mode is the one mode there is: Wayland clients do
// not set display modes.
int32_t* fetchModes(int32_t depth, int32_t* count) {
  if (count) *count = 0;
  if (!win || win->outputW < 1 || win->outputH < 1 || (depth != 32 && depth != 24)) return nullptr;
  auto* modes = static_cast<int32_t*>(std::malloc(sizeof(int32_t)));
  if (!modes) return nullptr;
  modes[0] = static_cast<int32_t>(static_cast<uint32_t>(win->outputW) << 16 | (win->outputH & 0xFFFF));
  if (count) *count = 1;
  return modes;
}

}  // namespace
}  // namespace wayland

int64_t waylandPasses() { return wayland::passes; }
void waylandWake() {
  if (wayland::win) wayland::win->wake.wake();
}

namespace {

// The window thread waits for the lock; this thread reads the events.
wayland::Buffer* freeBufferNow() {
  using namespace wayland;
  for (;;) {
    for (Buffer& b : win->buffers) {
      if (!b.busy && b.buffer) return &b;
    }
    if (wl->wl_display_roundtrip(win->display) < 0) return nullptr;
  }
}

}  // namespace

void waylandPresentNow(int32_t first, int32_t last) {
  using namespace wayland;
  ScreenMode* m = modeToPresent(waylandDriver, first, last);
  if (!m || !win) return;
  std::lock_guard guard(win->presentation);
  if (!win->configured || !freeBufferNow()) return;
  markRows(m, first, last);
  // Timed back to back, as the floor is: no wait for the frame callback.
  if (win->frame) wl_callback_destroy(win->frame);
  win->frame = nullptr;
  present();
  wl->wl_display_roundtrip(win->display);
}

void waylandBarePresent() {
  using namespace wayland;
  ScreenMode* m = currentMode();
  if (!win || !m || m->bytesPerPixel != 4) return;
  std::lock_guard guard(win->presentation);
  Buffer* b = win->configured ? freeBufferNow() : nullptr;
  if (!b) return;
  const auto rowBytes = static_cast<std::size_t>(win->width) * 4;
  if (win->stride == m->pitch && static_cast<std::size_t>(m->pitch) == rowBytes) {
    std::memcpy(b->pixels, m->visibleBuffer, rowBytes * static_cast<std::size_t>(win->height));
  } else {
    for (int32_t y = 0; y < win->height; ++y)
      std::memcpy(b->pixels + static_cast<std::size_t>(y) * win->stride, m->visibleBuffer + static_cast<std::size_t>(y) * m->pitch, rowBytes);
  }
  wl_surface_attach(win->surface, b->buffer, 0, 0);
  wl_surface_damage_buffer(win->surface, 0, 0, win->width, win->height);
  wl_surface_commit(win->surface);
  b->busy = true;
  b->stale = {0, m->height};  // no longer what the back end wrote
  wl->wl_display_roundtrip(win->display);
}

void waylandSurfaceSize(int32_t& width, int32_t& height) {
  std::lock_guard guard(wayland::win->presentation);
  width = wayland::win->windowW;
  height = wayland::win->windowH;
}

void waylandFeedClose() {
  std::lock_guard guard(wayland::win->presentation);
  wayland::toplevelListener.close(nullptr, wayland::win->toplevel);
}

const DisplayDriver waylandDriver = {
    .name = "Wayland",
    .init = wayland::init,
    .exit = wayland::shutDown,
    .lock = [] { wayland::win->presentation.lock(); },
    .unlock = [] { wayland::win->presentation.unlock(); },
    .setPalette = [](int32_t, int32_t, int32_t, int32_t) {},  // the blitter reads the mode's palette
    .waitVsync = wayland::waitVsync,
    .getMouse = wayland::getMouse,
    .setMouse = wayland::setMouse,
    .setWindowTitle = wayland::setTitle,
    .setWindowPos = [](int32_t, int32_t) { return 0; },  // Wayland clients cannot place their windows
    .fetchModes = wayland::fetchModes,
    // A frame callback on its way wakes the thread when it comes, and the
    // rows go out then: one commit a frame.
    .rowsMarked = [] {
      if (!wayland::win->frame) wayland::win->wake.wake();
    },
};

}  // namespace pel
