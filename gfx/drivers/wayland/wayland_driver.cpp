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

void applyScale();

// The window's output's mode, where the program and the pacing read it.
void takeOutputMode() {
  const Output* o = win->shownOn;
  win->outputW = o ? o->w : 0;
  win->outputH = o ? o->h : 0;
  win->outputRate = o ? o->rate : 0;
  win->outputScale = o ? std::max(o->scale, 1) : 1;
}

// An output's description is complete: the window on it follows.
void outputDone(Output* o) {
  if (o != win->shownOn) return;
  takeOutputMode();
  applyScale();
}

void outputMode(void* data, wl_output*, uint32_t flags, int32_t width, int32_t height, int32_t refresh) {
  if (!(flags & WL_OUTPUT_MODE_CURRENT)) return;
  auto* o = static_cast<Output*>(data);
  o->w = width;
  o->h = height;
  o->rate = (refresh + 500) / 1000;  // millihertz
}
const wl_output_listener outputListener = {
    .geometry = [](void* data, wl_output*, int32_t, int32_t, int32_t, int32_t, int32_t, const char*, const char*,
                   int32_t transform) { static_cast<Output*>(data)->turned = transform & 1; },
    .mode = outputMode,
    .done = [](void* data, wl_output*) { outputDone(static_cast<Output*>(data)); },
    .scale = [](void* data, wl_output*, int32_t factor) { static_cast<Output*>(data)->scale = std::max(factor, 1); },
    .name = [](void*, wl_output*, const char*) {},
    .description = [](void*, wl_output*, const char*) {},
};

// xdg-output's logical size, from which a fractional scale follows.
const zxdg_output_v1_listener xdgOutputListener = {
    .logical_position = [](void*, zxdg_output_v1*, int32_t, int32_t) {},
    .logical_size =
        [](void* data, zxdg_output_v1*, int32_t width, int32_t height) {
          auto* o = static_cast<Output*>(data);
          o->logicalW = width;
          o->logicalH = height;
        },
    .done = [](void* data, zxdg_output_v1*) { outputDone(static_cast<Output*>(data)); },  // before version 3
    .name = [](void*, zxdg_output_v1*, const char*) {},
    .description = [](void*, zxdg_output_v1*, const char*) {},
};

void describeOutput(Output& o) {
  if (!win->xdgOutputs || o.xdgOutput) return;
  o.xdgOutput = zxdg_output_manager_v1_get_xdg_output(win->xdgOutputs, o.output);
  zxdg_output_v1_add_listener(o.xdgOutput, &xdgOutputListener, &o);
}

void releaseOutput(Output& o) {
  if (o.xdgOutput) zxdg_output_v1_destroy(o.xdgOutput);
  if (wl_output_get_version(o.output) >= WL_OUTPUT_RELEASE_SINCE_VERSION) {
    wl_output_release(o.output);
  } else {
    wl_output_destroy(o.output);
  }
  o.output = nullptr;
  o.xdgOutput = nullptr;
}

Output* outputOf(const wl_output* output) {
  for (const auto& o : win->outputs) {
    if (o->output == output) return o.get();
  }
  return nullptr;
}

// The window's output: the one it entered last while it is on any, the one
// it was on before otherwise; the first one before the compositor says.
void followOutput() {
  Output* now = win->entered.empty() ? win->shownOn : outputOf(win->entered.back());
  if (!now && !win->outputs.empty()) now = win->outputs.front().get();
  if (now == win->shownOn) return;
  win->shownOn = now;
  takeOutputMode();
  applyScale();
}

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
    // Version 4 tells the area a window may take (configure_bounds).
    win->wmBase = bind<xdg_wm_base>(registry, name, &xdg_wm_base_interface, version, 4);
    xdg_wm_base_add_listener(win->wmBase, &wmBaseListener, nullptr);
    // Its pings go to a queue of their own, answered even while the program
    // holds the lock; the objects made from it go back to the main queue.
    win->pings = wl->wl_display_create_queue(win->display);
    if (win->pings) wl->wl_proxy_set_queue(reinterpret_cast<wl_proxy*>(win->wmBase), win->pings);
  } else if (is == zxdg_decoration_manager_v1_interface.name) {
    win->decorations =
        bind<zxdg_decoration_manager_v1>(registry, name, &zxdg_decoration_manager_v1_interface, version, 1);
  } else if (is == zwp_text_input_manager_v3_interface.name) {
    win->textInputs = bind<zwp_text_input_manager_v3>(registry, name, &zwp_text_input_manager_v3_interface, version, 1);
  } else if (is == wl_seat_interface.name && !win->seat) {
    // 5 for the wheels' notches (axis_discrete), 8 for high-resolution ones (axis_value120).
    win->seat = bind<wl_seat>(registry, name, &wl_seat_interface, version, 8);
    wl_seat_add_listener(win->seat, &seatListener, nullptr);
  } else if (is == wl_output_interface.name) {
    auto o = std::make_unique<Output>();
    o->name = name;
    o->output = bind<wl_output>(registry, name, &wl_output_interface, version, 3);
    wl_output_add_listener(o->output, &outputListener, o.get());
    describeOutput(*o);
    win->outputs.push_back(std::move(o));
  } else if (is == zxdg_output_manager_v1_interface.name) {
    win->xdgOutputs = bind<zxdg_output_manager_v1>(registry, name, &zxdg_output_manager_v1_interface, version, 3);
    for (const auto& o : win->outputs) describeOutput(*o);
  } else if (is == wp_viewporter_interface.name) {
    win->viewporter = bind<wp_viewporter>(registry, name, &wp_viewporter_interface, version, 1);
#ifdef PEL_HAVE_FRACTIONAL_SCALE
  } else if (is == wp_fractional_scale_manager_v1_interface.name) {
    win->fractionalScales = bind<wp_fractional_scale_manager_v1>(registry, name,
                                                                  &wp_fractional_scale_manager_v1_interface, version, 1);
#endif
  }
}

// An output unplugged: a window on it follows the one it is on next.
void globalRemove(void*, wl_registry*, uint32_t name) {
  auto& all = win->outputs;
  const auto gone = std::find_if(all.begin(), all.end(), [name](const auto& o) { return o->name == name; });
  if (gone == all.end()) return;
  std::unique_ptr<Output> o = std::move(*gone);
  all.erase(gone);
  std::erase(win->entered, o->output);
  if (win->shownOn == o.get()) win->shownOn = nullptr;
  releaseOutput(*o);
  followOutput();
}
const wl_registry_listener registryListener = {
    .global = global,
    .global_remove = globalRemove,
};

// The thread that runs the window (the lock's waits answer pings there).
thread_local bool onWindowThread = false;

// The compositor's pings. While the program holds the lock the events that
// came are read into their queues (`read`) and only the pings' queue is
// dispatched, which touches nothing of the window's or the page's.
void answerPings(bool read) {
  wl_display* d = win ? win->display : nullptr;
  if (!d || !win->pings || win->lost) return;
  if (read && wl->wl_display_prepare_read_queue(d, win->pings) == 0) {
    pollfd p{wl->wl_display_get_fd(d), POLLIN, 0};
    if (poll(&p, 1, 0) > 0 && (p.revents & POLLIN)) {
      wl->wl_display_read_events(d);
    } else {
      wl->wl_display_cancel_read(d);
    }
  }
  wl->wl_display_dispatch_queue_pending(d, win->pings);
  wl->wl_display_flush(d);
}

// The compositor named by WAYLAND_DISPLAY, with the globals a window needs.
bool connect() {
  onWindowThread = true;
  const char* name = std::getenv("WAYLAND_DISPLAY");
  if (!name || !*name) return false;
  win->display = wl->wl_display_connect(nullptr);
  if (!win->display) return false;
  win->registry = wl_display_get_registry(win->display);
  wl_registry_add_listener(win->registry, &registryListener, nullptr);
  // The globals, then the events they send as they are bound.
  if (wl->wl_display_roundtrip(win->display) < 0 || wl->wl_display_roundtrip(win->display) < 0) return false;
  startTextInput();
  followOutput();
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
  for (const auto& o : win->outputs) releaseOutput(*o);
  win->outputs.clear();
  win->entered.clear();
  win->shownOn = nullptr;
  destroyProxy(win->xdgOutputs, zxdg_output_manager_v1_destroy);
  destroyProxy(win->viewporter, wp_viewporter_destroy);
#ifdef PEL_HAVE_FRACTIONAL_SCALE
  destroyProxy(win->fractionalScales, wp_fractional_scale_manager_v1_destroy);
#endif
  destroyProxy(win->seat, wl_seat_destroy);
  destroyProxy(win->shm, wl_shm_destroy);
  destroyProxy(win->compositor, wl_compositor_destroy);
  destroyProxy(win->registry, wl_registry_destroy);
  if (win->pings) wl->wl_event_queue_destroy(win->pings);
  win->pings = nullptr;
  wl->wl_display_disconnect(win->display);
  win->display = nullptr;
}

// ---- Buffers ---------------------------------------------------------------

void releaseBuffer(void*, wl_buffer* buffer) {
  for (Buffer& b : win->buffers) {
    if (b.buffer == buffer) b.busy = false;
  }
  // An old size's buffer let go of: its bytes are free for new ones.
  auto& old = win->retired;
  const auto r = std::find_if(old.begin(), old.end(), [buffer](const auto& o) { return o.buffer == buffer; });
  if (r == old.end()) return;
  wl_buffer_destroy(buffer);
  old.erase(r);
}
const wl_buffer_listener bufferListener = {.release = releaseBuffer};

// The buffers of the old size go; one the compositor still holds waits for
// its release, its bytes kept out of the new buffers' way.
void retireBuffers() {
  for (int i = 0; i < bufferCount; ++i) {
    Buffer& b = win->buffers[i];
    if (b.buffer && b.busy) {
      const std::size_t bytes = static_cast<std::size_t>(win->stride) * static_cast<std::size_t>(win->bufferH);
      win->retired.push_back({b.buffer, win->bufferOffset[i], win->bufferOffset[i] + bytes});
    } else if (b.buffer) {
      wl_buffer_destroy(b.buffer);
    }
    b = Buffer{};
  }
  win->bufferW = win->bufferH = 0;
}

void abandonPool();

void destroyBuffers() {
  retireBuffers();
  for (const auto& r : win->retired) wl_buffer_destroy(r.buffer);
  win->retired.clear();
  abandonPool();
}

// A pool of `need` bytes at least: made once, then grown (by half again at
// least, so that a window resized step by step seldom grows it) and never
// shrunk, so resizing seldom makes a new pool.
bool growPool(std::size_t need) {
  if (win->pool && need <= win->mappingSize) return true;
  if (need > INT32_MAX) return false;
  const std::size_t size = std::min<std::size_t>(std::max(need, win->mappingSize + win->mappingSize / 2), INT32_MAX);
  if (win->poolFd < 0) win->poolFd = memfd_create("pellucet-buffers", MFD_CLOEXEC);
  if (win->poolFd < 0 || ftruncate(win->poolFd, static_cast<off_t>(size)) != 0) return false;
  void* mapped = win->mapping ? mremap(win->mapping, win->mappingSize, size, MREMAP_MAYMOVE)
                              : mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, win->poolFd, 0);
  if (mapped == MAP_FAILED) return false;
  win->mapping = static_cast<uint8_t*>(mapped);
  win->mappingSize = size;
  if (win->pool) {
    wl_shm_pool_resize(win->pool, static_cast<int32_t>(size));
  } else {
    win->pool = wl_shm_create_pool(win->shm, win->poolFd, static_cast<int32_t>(size));
  }
  return true;
}

// The lowest place for `bytes` in the pool clear of the retired buffers and
// of the new ones placed before buffer `count`.
std::size_t freePlace(std::size_t bytes, int count) {
  std::vector<std::pair<std::size_t, std::size_t>> taken;
  for (const auto& r : win->retired) taken.push_back({r.from, r.end});
  for (int i = 0; i < count; ++i) taken.push_back({win->bufferOffset[i], win->bufferOffset[i] + bytes});
  std::vector<std::size_t> candidates{0};
  for (const auto& [from, end] : taken) candidates.push_back(end);
  std::sort(candidates.begin(), candidates.end());
  for (const std::size_t at : candidates) {
    const bool clear = std::none_of(taken.begin(), taken.end(),
                                    [&](const auto& t) { return at < t.second && t.first < at + bytes; });
    if (clear) return at;
  }
  return candidates.back();  // not reached: past every taken place is clear
}

// The bars around the picture, black (transparent for shaped windows): the
// picture itself is written whole before the buffer is first shown.
void clearBars(uint8_t* pixels) {
  const uint32_t black = win->argb ? 0 : 0xFF000000u;
  const PictureRect& p = win->picture;
  const int32_t w = win->bufferW, h = win->bufferH;
  const int32_t left = std::clamp(p.x, 0, w), right = std::clamp(p.x + p.width, left, w);
  const int32_t top = std::clamp(p.y, 0, h), bottom = std::clamp(p.y + p.height, top, h);
  for (int32_t y = 0; y < h; ++y) {
    auto* row = reinterpret_cast<uint32_t*>(pixels + static_cast<std::size_t>(y) * win->stride);
    if (y < top || y >= bottom) {
      std::fill_n(row, w, black);
    } else {
      std::fill_n(row, left, black);
      std::fill_n(row + right, w - right, black);
    }
  }
}

// The buffers' places in the pool: the bytes it needs.
std::size_t placeBuffers(std::size_t one) {
  std::size_t need = 0;
  for (int i = 0; i < bufferCount; ++i) {
    win->bufferOffset[i] = freePlace(one, i);
    need = std::max(need, win->bufferOffset[i] + one);
  }
  return need;
}

// The pool given up for a new one: its buffers the compositor holds keep
// their bytes, and new buffers need not keep clear of them.
void abandonPool() {
  destroyProxy(win->pool, wl_shm_pool_destroy);
  if (win->mapping) munmap(win->mapping, win->mappingSize);
  if (win->poolFd >= 0) close(win->poolFd);
  win->mapping = nullptr;
  win->mappingSize = 0;
  win->poolFd = -1;
  for (auto& r : win->retired) r.from = r.end = 0;
}

// Buffers of the surface's size in the pool, each lacking the whole page.
bool createBuffers() {
  const int32_t w = win->targetW, h = win->targetH;
  if (w < 1 || h < 1 || int64_t{w} * h * 4 * bufferCount > INT32_MAX) return false;
  retireBuffers();
  const auto one = static_cast<std::size_t>(w) * 4 * static_cast<std::size_t>(h);
  std::size_t need = placeBuffers(one);
  // A pool grows only while the compositor holds none of its buffers: the
  // server defers a resize until it lets go of the pool, and refuses
  // buffers past the old end meanwhile (a protocol error). Otherwise a new
  // pool takes its place.
  if (need > win->mappingSize && !win->retired.empty()) {
    abandonPool();
    need = placeBuffers(one);
  }
  if (!growPool(need)) return false;
  win->stride = w * 4;
  win->bufferW = w;
  win->bufferH = h;
  const uint32_t format = win->argb ? WL_SHM_FORMAT_ARGB8888 : WL_SHM_FORMAT_XRGB8888;
  const ScreenMode* m = currentMode();
  for (int i = 0; i < bufferCount; ++i) {
    Buffer& b = win->buffers[i];
    b.pixels = win->mapping + win->bufferOffset[i];
    b.buffer = wl_shm_pool_create_buffer(win->pool, static_cast<int32_t>(win->bufferOffset[i]), w, h, win->stride,
                                         format);
    wl_buffer_add_listener(b.buffer, &bufferListener, nullptr);
    b.stale = {0, m ? m->height : 0};
    b.fresh = true;
    clearBars(b.pixels);
  }
  return true;
}

// ---- The picture -----------------------------------------------------------

bool scaled() { return win->picture.width != win->width || win->picture.height != win->height; }

// Full-screen and zoomed or resizable windows show the picture in the
// output's real pixels; the others show the page at its size, which the
// compositor scales on a HiDPI output.
bool drawnInRealPixels() {
  return ((win->rules.modeFlags & modeflag::fullScreen) || win->scale.on()) && !win->argb;
}

// The real scale of the window's output in 120ths: the fractional-scale
// protocol's where it is offered, else the output's mode over its logical
// size (xdg-output), where that agrees with its whole scale (which is the
// fractional one rounded up), else the whole scale.
int32_t realScale() {
  if (win->preferredScale > 0) return win->preferredScale;
  const Output* o = win->shownOn;
  if (!o) return 120;
  const int32_t realW = o->turned ? o->h : o->w;
  if (o->logicalW > 0 && realW > 0) {
    const auto s = static_cast<int32_t>((int64_t{realW} * 120 + o->logicalW / 2) / o->logicalW);
    if ((s + 119) / 120 == o->scale) return s;
  }
  return o->scale * 120;
}

// The window's scale: the real one through the viewport; without the
// viewporter a buffer counts whole pixels a logical one.
int32_t windowScale() {
  if (!drawnInRealPixels()) return 120;
  const int32_t s = realScale();
  return win->viewporter ? s : (s + 119) / 120 * 120;
}

// Logical pixels as buffer ones, and the logical size that holds `real`
// buffer pixels.
int32_t inBuffer(int32_t logical) { return static_cast<int32_t>((int64_t{logical} * win->scale120 + 60) / 120); }
int32_t logicalFor(int32_t real) {
  return static_cast<int32_t>((int64_t{real} * 120 + win->scale120 - 1) / win->scale120);
}

// A zoomed window's size on the surface, which counts in the output's
// logical pixels: the zoom counts real ones.
Size zoomedSize() { return {logicalFor(win->width * win->zoom), logicalFor(win->height * win->zoom)}; }

// The output's size in logical pixels.
Size outputLogicalSize() {
  const Output* o = win->shownOn;
  if (!o || o->w < 1 || o->h < 1) return {0, 0};
  if (o->logicalW > 0 && o->logicalH > 0) return {o->logicalW, o->logicalH};
  const int32_t s = std::max(o->scale, 1);
  return o->turned ? Size{o->h / s, o->w / s} : Size{o->w / s, o->h / s};
}

// Room a compositor's window frame (a title bar and borders) and panels may
// take, where it does not tell a window the area it may have.
constexpr int32_t frameRoomW = 16, frameRoomH = 64;

// The zoom a window opens with: the asked one, or what fits the area the
// compositor allows (configure_bounds), else the output less room for a
// frame, in the buffer's pixels.
int32_t zoomToOpen() {
  if (!win->scale.on() || win->argb) return 1;
  const int32_t flags = win->rules.modeFlags;
  Size area{win->boundsW, win->boundsH};
  if (area.width < 1 || area.height < 1) {
    area = outputLogicalSize();
    if (!(flags & (modeflag::noFrame | modeflag::fullScreen))) {
      area.width -= frameRoomW;
      area.height -= frameRoomH;
    }
  }
  if (area.width < 1 || area.height < 1) area = {win->width, win->height};
  return chooseZoom(win->scale, inBuffer(area.width), inBuffer(area.height), win->width, win->height,
                    std::max((realScale() + 60) / 120, 1));
}

// The picture's place in the buffers of a surface of this size: scaled to it,
// centred, in full screen and in resizable windows; at its zoom, centred, in
// zoomed ones; at the corner otherwise.
void placePicture(int32_t w, int32_t h) {
  const bool full = win->rules.modeFlags & modeflag::fullScreen;
  win->targetW = inBuffer(w);
  win->targetH = inBuffer(h);
  if (win->viewport) wp_viewport_set_destination(win->viewport, w, h);
  // The picture's place is in buffer pixels; the area the program hears of,
  // in the window's.
  const PictureRect inBuffer =
      pictureInWindow(win->targetW, win->targetH, win->width, win->height,
                      win->argb || !(full || win->scale.on()) ? PicturePlace::corner : PicturePlace::scaled,
                      full || win->scale.resizable ? 0 : win->zoom);
  placeWindow(*win, w, h, inBuffer, win->bufferScale);
  markAllRows();
}

void setFixedSize(Size s) {
  if (win->toplevel) {
    xdg_toplevel_set_min_size(win->toplevel, s.width, s.height);
    xdg_toplevel_set_max_size(win->toplevel, s.width, s.height);
  }
#ifdef PEL_HAVE_LIBDECOR
  if (win->decorFrame) {
    const Decor* d = decorLibrary();
    d->libdecor_frame_set_min_content_size(win->decorFrame, s.width, s.height);
    d->libdecor_frame_set_max_content_size(win->decorFrame, s.width, s.height);
    if (win->configured) {
      libdecor_state* state = d->libdecor_state_new(s.width, s.height);
      d->libdecor_frame_commit(win->decorFrame, state, nullptr);
      d->libdecor_state_free(state);
    }
  }
#endif
}

// The window's size and picture after its scale or zoom changed: a zoomed
// window keeps its real size (its logical one changes), the others their
// logical size (their buffers change).
void resizeForScale() {
  if (!win->configured) return;  // the first configure places it
  const bool full = win->rules.modeFlags & modeflag::fullScreen;
  Size s{win->windowW, win->windowH};
  if (!full && !win->scale.resizable) {
    s = zoomedSize();
    setFixedSize(s);
  }
  placePicture(s.width, s.height);
}

// The window's scale follows its output's, or the fractional-scale
// protocol's.
void applyScale() {
  if (!win->surface) return;
  const int32_t s = windowScale();
  if (s == win->scale120) return;
  win->scale120 = s;
  win->bufferScale = s / 120.0;
  if (!win->viewport && drawnInRealPixels()) wl_surface_set_buffer_scale(win->surface, s / 120);
  resizeForScale();
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

// The outputs the surface is on: the window's scale and full screen follow
// the one entered last.
const wl_surface_listener surfaceListener = {
    .enter =
        [](void*, wl_surface*, wl_output* output) {
          if (!outputOf(output)) return;
          std::erase(win->entered, output);
          win->entered.push_back(output);
          win->outputTold = true;
          followOutput();
        },
    .leave =
        [](void*, wl_surface*, wl_output* output) {
          std::erase(win->entered, output);
          followOutput();
        },
};

#ifdef PEL_HAVE_FRACTIONAL_SCALE
const wp_fractional_scale_v1_listener fractionalScaleListener = {
    .preferred_scale =
        [](void*, wp_fractional_scale_v1*, uint32_t scale) {
          win->preferredScale = static_cast<int32_t>(std::clamp<uint32_t>(scale, 30, 120 * windowzoom::largest));
          applyScale();
        },
};
#endif

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
    .configure_bounds =
        [](void*, xdg_toplevel*, int32_t width, int32_t height) {
          win->boundsW = width;
          win->boundsH = height;
        },
    .wm_capabilities = [](void*, xdg_toplevel*, wl_array*) {},
};

// A zoom that fits: chosen again once the compositor has told the area a
// window may take, or once it showed the window on another output than
// guessed. True when it changed.
bool chooseZoomAgain() {
  const int32_t zoom = zoomToOpen();
  if (zoom == win->zoom) return false;
  win->zoom = zoom;
  if (!(win->rules.modeFlags & modeflag::fullScreen) && !win->scale.resizable) setFixedSize(zoomedSize());
  return true;
}

// The surface's size: what the compositor asks for in full screen and for
// resizable windows, the picture at its zoom otherwise.
void surfaceConfigure(void*, xdg_surface* surface, uint32_t serial) {
  xdg_surface_ack_configure(surface, serial);
  noteSwitch();
  const bool full = win->rules.modeFlags & modeflag::fullScreen;
  // The first configure may tell the area the window may take: the zoom
  // that fits it goes with the first buffer.
  if (!win->configured) chooseZoomAgain();
  auto [w, h] = zoomedSize();
  const Size output = outputLogicalSize();
  if ((full || win->scale.resizable) && win->askedW > 0 && win->askedH > 0) {
    w = win->askedW;
    h = win->askedH;
  } else if (full && output.width > 0 && output.height > 0) {
    w = output.width;
    h = output.height;
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
  // The compositor shows a new window on an output of its choice (the
  // focused one) and says which once the window is shown: its zoom and
  // scale follow that output from the start.
  for (int i = 0; i < 3 && win->entered.empty(); ++i) {
    if (wl->wl_display_roundtrip(win->display) < 0) return false;
  }
  if (chooseZoomAgain()) resizeForScale();
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
    setFixedSize(zoomedSize());
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
  win->configured = false;
  win->boundsW = win->boundsH = 0;
  win->preferredScale = 0;
  win->surface = wl_compositor_create_surface(win->compositor);
  wl_surface_add_listener(win->surface, &surfaceListener, nullptr);
  // Scaled pictures are drawn in the output's real pixels (the output the
  // last window was on, or a guess until the compositor shows this one).
  if (drawnInRealPixels() && win->viewporter) {
    win->viewport = wp_viewporter_get_viewport(win->viewporter, win->surface);
#ifdef PEL_HAVE_FRACTIONAL_SCALE
    if (win->fractionalScales) {
      win->fractionalScale = wp_fractional_scale_manager_v1_get_fractional_scale(win->fractionalScales, win->surface);
      wp_fractional_scale_v1_add_listener(win->fractionalScale, &fractionalScaleListener, nullptr);
    }
#endif
  }
  win->scale120 = windowScale();
  win->bufferScale = win->scale120 / 120.0;
  if (!win->viewport && win->scale120 > 120) wl_surface_set_buffer_scale(win->surface, win->scale120 / 120);
  win->zoom = zoomToOpen();
  if (drawsFrames()) return initDecoratedWindow();
  win->xdgSurface = xdg_wm_base_get_xdg_surface(win->wmBase, win->surface);
  // Made from xdg_wm_base, it came on the pings' queue: its events and its
  // toplevel's are the main queue's.
  wl->wl_proxy_set_queue(reinterpret_cast<wl_proxy*>(win->xdgSurface), nullptr);
  xdg_surface_add_listener(win->xdgSurface, &xdgSurfaceListener, nullptr);
  win->toplevel = xdg_surface_get_toplevel(win->xdgSurface);
  xdg_toplevel_add_listener(win->toplevel, &toplevelListener, nullptr);
  xdg_toplevel_set_title(win->toplevel, win->title.current().c_str());
  xdg_toplevel_set_app_id(win->toplevel, appId());
  // A fixed size keeps tiling compositors from stretching the window (they
  // float it); resizable windows take any size.
  if (!full && !win->scale.resizable) setFixedSize(zoomedSize());
  if (win->decorations) {
    win->decoration = zxdg_decoration_manager_v1_get_toplevel_decoration(win->decorations, win->toplevel);
    const bool framed = !full && !(flags & modeflag::noFrame) && !win->argb;
    zxdg_toplevel_decoration_v1_add_listener(win->decoration, &decorationListener, nullptr);
    zxdg_toplevel_decoration_v1_set_mode(win->decoration, framed ? ZXDG_TOPLEVEL_DECORATION_V1_MODE_SERVER_SIDE
                                                                 : ZXDG_TOPLEVEL_DECORATION_V1_MODE_CLIENT_SIDE);
  }
  // Full screen on the output the window was on; a new one on the
  // compositor's choice.
  if (full) xdg_toplevel_set_fullscreen(win->toplevel, win->outputTold && win->shownOn ? win->shownOn->output : nullptr);
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
#ifdef PEL_HAVE_FRACTIONAL_SCALE
  destroyProxy(win->fractionalScale, wp_fractional_scale_v1_destroy);
#endif
  destroyProxy(win->viewport, wp_viewport_destroy);
  destroyProxy(win->surface, wl_surface_destroy);
  win->entered.clear();
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

// On the window thread the pings' queue is dispatched at every hold, with
// whatever the thread read with the window's events, and while it waits.
void PresentationLock::lock() {
  std::unique_lock guard(state_);
  if (!onWindowThread) {
    free_.wait(guard, [this] { return !held_; });
    held_ = true;
    return;
  }
  while (!free_.wait_for(guard, std::chrono::milliseconds(20), [this] { return !held_; })) {
    guard.unlock();
    answerPings(true);
    guard.lock();
  }
  held_ = true;
  guard.unlock();
  answerPings(false);
}

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

void waylandProvokePing() {
  using namespace wayland;
  wl_surface* surface = wl_compositor_create_surface(win->compositor);
  xdg_surface* shell = xdg_wm_base_get_xdg_surface(win->wmBase, surface);
  xdg_toplevel* toplevel = xdg_surface_get_toplevel(shell);
  wl_surface_commit(surface);  // wlroots takes a toplevel for new at its first commit
  xdg_toplevel_destroy(toplevel);
  xdg_surface_destroy(shell);
  wl_surface_destroy(surface);
  wl->wl_display_flush(win->display);
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
