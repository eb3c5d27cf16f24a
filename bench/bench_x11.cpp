// The X11 back end on a private Xvfb (or on $DISPLAY with
// PEL_BENCH_USE_DISPLAY=1):
// - present: a whole 800 x 600 frame through the back end against the floor,
//   one memcpy of the page into a shared image, a bare XShmPutImage and XSync;
// - band: a 10-row band likewise;
// - sdl2: the back end's frame against SDL2's window surface, with its plain
//   shared-memory path and with its default (accelerated) path;
// - scaled: a whole frame of a full-screen 800 x 600 mode on the 1024 x 768
//   screen (and of 320 x 200: "scaled320"), scaled in the client, against the
//   floor of a memcpy of the scaled image and a bare XShmPutImage of it; and
//   the same picture scaled by the server through XRender (nearest filter);
// - demo: the demo's frames on X11 against the same frames on the null back end;
// - latency: from a flip of an 800 x 600 page returning to a second client
//   seeing the rows through XDamage, flips a random 4 to 24 ms apart;
//   median and 99th percentile ("p50_ms", "p99_ms").
#include <benchmark/benchmark.h>

#include <poll.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "demo/disc.h"
#include "demo/pellucet.h"
#include "gfx/drivers/window_scale.h"
#include "gfx/drivers/x11/x11_testing.h"
#include "gfx/mode.h"
#include "gfx/pages.h"
#include "private_xvfb.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#ifdef PEL_HAVE_XRENDER
#include <X11/extensions/Xrender.h>
#endif
#ifdef PEL_HAVE_XDAMAGE
#include <X11/extensions/Xdamage.h>
#endif
#ifdef PEL_HAVE_SDL2
#include <SDL.h>
#endif

using namespace pel;

namespace {

constexpr int width = 800, height = 600;

// A private X server for the whole run.
struct Server {
  PrivateXvfb xvfb;
  Server() {
    const char* use = std::getenv("PEL_BENCH_USE_DISPLAY");
    if (use && std::strcmp(use, "1") == 0 && std::getenv("DISPLAY")) return;
    if (!xvfb.start()) {
      std::fputs("bench_x11: Xvfb did not start\n", stderr);
      std::exit(1);
    }
    setenv("DISPLAY", xvfb.display.c_str(), 1);
    // Xvfb resets when its last client leaves and refuses connections for a
    // moment; one connection kept open for the run avoids that.
    keeper = XOpenDisplay(nullptr);
  }
  Display* keeper = nullptr;
} server;

void fillRandom(uint8_t* bytes, std::size_t count) {
  std::mt19937 random(7);
  for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(random());
}

// The runtime's screen (800 x 600 unless told) on the given back end.
struct Screen {
  explicit Screen(const char* backend, int32_t flags = 0, int w = width, int h = height) {
    if (backend)
      setenv("KELGFX", backend, 1);
    else
      unsetenv("KELGFX");
    ok = openScreenBySize(w, h, 32, 2, flags, 0) == 0 &&
         (backend || std::strcmp(currentMode()->driver->name, "X11") == 0);
    if (ok) fillRandom(currentMode()->pages[0], static_cast<std::size_t>(w) * h * 4);
  }
  ~Screen() { closeScreen(); }
  bool ok = false;
};

// The floor: a window of its own with a shared image, nothing else.
struct BareWindow {
  Display* d = XOpenDisplay(nullptr);
  Window w = 0;
  GC gc = nullptr;
  XImage* image = nullptr;
  XShmSegmentInfo shm{};
  int iw, ih;
  explicit BareWindow(int imageW = width, int imageH = height) : iw(imageW), ih(imageH) {
    if (!d || !XShmQueryExtension(d)) return;
    const int s = DefaultScreen(d);
    w = XCreateSimpleWindow(d, RootWindow(d, s), 0, 0, static_cast<unsigned>(iw), static_cast<unsigned>(ih), 0, 0, 0);
    XMapWindow(d, w);
    gc = XCreateGC(d, w, 0, nullptr);
    image = XShmCreateImage(d, DefaultVisual(d, s), static_cast<unsigned>(DefaultDepth(d, s)), ZPixmap, nullptr, &shm,
                            static_cast<unsigned>(iw), static_cast<unsigned>(ih));
    shm.shmid = shmget(IPC_PRIVATE, static_cast<std::size_t>(image->bytes_per_line) * ih, IPC_CREAT | 0600);
    shm.shmaddr = image->data = static_cast<char*>(shmat(shm.shmid, nullptr, 0));
    XShmAttach(d, &shm);
    XSync(d, False);
    shmctl(shm.shmid, IPC_RMID, nullptr);
  }
  ~BareWindow() {
    if (!image) return;
    XShmDetach(d, &shm);
    XSync(d, False);
    shmdt(shm.shmaddr);
    image->data = nullptr;
    XDestroyImage(image);
    XFreeGC(d, gc);
    XDestroyWindow(d, w);
    XCloseDisplay(d);
  }
  void put(const uint8_t* page, int top, int rows) {
    std::memcpy(image->data + static_cast<std::size_t>(top) * image->bytes_per_line,
                page + static_cast<std::size_t>(top) * iw * 4, static_cast<std::size_t>(rows) * iw * 4);
    XShmPutImage(d, w, gc, image, 0, top, 0, top, static_cast<unsigned>(iw), static_cast<unsigned>(rows), False);
    XSync(d, False);
  }
};

void floorPresent(benchmark::State& s, int rows) {
  BareWindow bare;
  if (!bare.image) return s.SkipWithError("no shared-memory X server");
  std::vector<uint8_t> page(static_cast<std::size_t>(width) * height * 4);
  fillRandom(page.data(), page.size());
  const int top = (height - rows) / 2;
  for (auto _ : s) bare.put(page.data(), top, rows);
  s.SetItemsProcessed(s.iterations() * rows * width);
}

void backendPresent(benchmark::State& s, int rows) {
  Screen screen(nullptr);
  if (!screen.ok) return s.SkipWithError("the X11 back end did not open");
  const int top = (height - rows) / 2;
  for (auto _ : s) x11PresentNow(top, top + rows - 1);
  s.SetItemsProcessed(s.iterations() * rows * width);
}

void presentFloor(benchmark::State& s) { floorPresent(s, height); }
void presentBackend(benchmark::State& s) { backendPresent(s, height); }
void bandFloor(benchmark::State& s) { floorPresent(s, 10); }
void bandBackend(benchmark::State& s) { backendPresent(s, 10); }

// A full-screen mode's whole frame, scaled to fill the 1024 x 768 screen.
constexpr int screenW = 1024, screenH = 768;
struct Fit {
  int w, h;
};
Fit fit(int pageW, int pageH) {
  return int64_t{screenW} * pageH <= int64_t{screenH} * pageW ? Fit{screenW, screenW * pageH / pageW}
                                                            : Fit{screenH * pageW / pageH, screenH};
}

void scaledFloor(benchmark::State& s, int pageW, int pageH) {
  const Fit f = fit(pageW, pageH);
  BareWindow bare(f.w, f.h);
  if (!bare.image) return s.SkipWithError("no shared-memory X server");
  std::vector<uint8_t> scaled(static_cast<std::size_t>(f.w) * f.h * 4);
  fillRandom(scaled.data(), scaled.size());
  for (auto _ : s) bare.put(scaled.data(), 0, f.h);
  s.SetItemsProcessed(s.iterations() * f.w * f.h);
}

void scaledBackend(benchmark::State& s, int pageW, int pageH) {
  Screen screen(nullptr, 0x01, pageW, pageH);
  if (!screen.ok) return s.SkipWithError("the X11 back end did not open");
  x11PresentNow(0, pageH - 1);  // the scaled image is made on the first present
  for (auto _ : s) x11PresentNow(0, pageH - 1);
  const Fit f = fit(pageW, pageH);
  s.SetItemsProcessed(s.iterations() * f.w * f.h);
}

// A 320 x 200 screen in a window at zoom 3: the whole frame against its
// floor (the 960 x 600 put alone), and one changed row (three window rows).
void zoomFloor(benchmark::State& s) {
  BareWindow bare(960, 600);
  if (!bare.image) return s.SkipWithError("no shared-memory X server");
  std::vector<uint8_t> scaled(static_cast<std::size_t>(960) * 600 * 4);
  fillRandom(scaled.data(), scaled.size());
  for (auto _ : s) bare.put(scaled.data(), 0, 600);
  s.SetItemsProcessed(s.iterations() * 960 * 600);
}

void zoomBackend(benchmark::State& s, int firstRow, int lastRow) {
  requestWindowScale({3, true});
  Screen screen(nullptr, 0, 320, 200);
  requestWindowScale({});
  if (!screen.ok) return s.SkipWithError("the X11 back end did not open");
  x11PresentNow(0, 199);  // the scaled image is made on the first present
  for (auto _ : s) x11PresentNow(firstRow, lastRow);
  s.SetItemsProcessed(s.iterations() * 960 * (lastRow - firstRow + 1) * 3);
}

#ifdef PEL_HAVE_XRENDER
// The server scales: the page goes into a pixmap through shared memory and
// XRender composites it onto the window with a scaling transform.
void scaledXRender(benchmark::State& s, int pageW, int pageH) {
  const Fit f = fit(pageW, pageH);
  BareWindow bare(pageW, pageH);
  if (!bare.image) return s.SkipWithError("no shared-memory X server");
  Display* d = bare.d;
  const int screen = DefaultScreen(d);
  XResizeWindow(d, bare.w, static_cast<unsigned>(f.w), static_cast<unsigned>(f.h));
  XRenderPictFormat* format = XRenderFindVisualFormat(d, DefaultVisual(d, screen));
  const Pixmap pixmap = XCreatePixmap(d, bare.w, static_cast<unsigned>(pageW), static_cast<unsigned>(pageH),
                                      static_cast<unsigned>(DefaultDepth(d, screen)));
  const Picture source = XRenderCreatePicture(d, pixmap, format, 0, nullptr);
  const Picture target = XRenderCreatePicture(d, bare.w, format, 0, nullptr);
  XTransform t{};
  t.matrix[0][0] = XDoubleToFixed(static_cast<double>(pageW) / f.w);
  t.matrix[1][1] = XDoubleToFixed(static_cast<double>(pageH) / f.h);
  t.matrix[2][2] = XDoubleToFixed(1.0);
  XRenderSetPictureTransform(d, source, &t);
  XRenderSetPictureFilter(d, source, FilterNearest, nullptr, 0);
  std::vector<uint8_t> page(static_cast<std::size_t>(pageW) * pageH * 4);
  fillRandom(page.data(), page.size());
  for (auto _ : s) {
    std::memcpy(bare.image->data, page.data(), page.size());
    XShmPutImage(d, pixmap, bare.gc, bare.image, 0, 0, 0, 0, static_cast<unsigned>(pageW),
                 static_cast<unsigned>(pageH), False);
    XRenderComposite(d, PictOpSrc, source, None, target, 0, 0, 0, 0, 0, 0, static_cast<unsigned>(f.w),
                     static_cast<unsigned>(f.h));
    XSync(d, False);
  }
  s.SetItemsProcessed(s.iterations() * f.w * f.h);
  XRenderFreePicture(d, source);
  XRenderFreePicture(d, target);
  XFreePixmap(d, pixmap);
}
#endif

#ifdef PEL_HAVE_SDL2
// SDL2's window surface: the page copied in and the window updated.
void sdlPresent(benchmark::State& s, bool accelerated) {
  if (accelerated)
    SDL_ResetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION);
  else
    SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
  if (SDL_Init(SDL_INIT_VIDEO) != 0) return s.SkipWithError(SDL_GetError());
  SDL_Window* window = SDL_CreateWindow("bench", 0, 0, width, height, SDL_WINDOW_SHOWN);
  SDL_Surface* surface = window ? SDL_GetWindowSurface(window) : nullptr;
  if (!surface) {
    SDL_Quit();
    return s.SkipWithError("no SDL2 window surface");
  }
  std::vector<uint8_t> page(static_cast<std::size_t>(width) * height * 4);
  fillRandom(page.data(), page.size());
  for (auto _ : s) {
    SDL_LockSurface(surface);
    for (int y = 0; y < height; ++y) {
      std::memcpy(static_cast<uint8_t*>(surface->pixels) + static_cast<std::size_t>(y) * surface->pitch,
                  page.data() + static_cast<std::size_t>(y) * width * 4, width * 4);
    }
    SDL_UnlockSurface(surface);
    SDL_UpdateWindowSurface(window);
  }
  s.SetItemsProcessed(s.iterations() * width * height);
  SDL_DestroyWindow(window);
  SDL_Quit();
}
void sdlShared(benchmark::State& s) { sdlPresent(s, false); }
void sdlDefault(benchmark::State& s) { sdlPresent(s, true); }
#endif

// The demo's frames (without its sleep) with a fixed clock.
double frameClock() { return 0.0; }
void demoFrames(benchmark::State& s, const char* backend) {
  Screen screen(backend);
  if (!screen.ok) return s.SkipWithError("the back end did not open");
  setPages(1, 0);
  screenBase = reinterpret_cast<uint32_t*>(workPagePointer());
  DemoState state;
  if (!demoStart(state, 42.0, frameClock)) return s.SkipWithError("the demo did not start");
  for (auto _ : s) demoFrame(state);
  s.counters["frames/s"] = benchmark::Counter(static_cast<double>(s.iterations()), benchmark::Counter::kIsRate);
  demoEnd(state);
}
void demoNull(benchmark::State& s) { demoFrames(s, "null"); }
void demoX11(benchmark::State& s) { demoFrames(s, nullptr); }

#ifdef PEL_HAVE_XDAMAGE
// The runtime's window: the last top-level child of the root window that
// is mapped.
Window runtimeWindow(Display* d) {
  Window root = 0, parent = 0, *children = nullptr, found = 0;
  unsigned count = 0;
  XQueryTree(d, DefaultRootWindow(d), &root, &parent, &children, &count);
  for (unsigned i = 0; i < count; ++i) {
    XWindowAttributes a{};
    if (XGetWindowAttributes(d, children[i], &a) && a.map_state == IsViewable) found = children[i];
  }
  if (children) XFree(children);
  return found;
}

// Until an XDamage notify arrives (true) or a second passes.
bool damageArrives(Display* d, int notify) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
  while (std::chrono::steady_clock::now() < deadline) {
    while (XPending(d)) {
      XEvent e;
      XNextEvent(d, &e);
      if (e.type == notify) return true;
    }
    pollfd p{ConnectionNumber(d), POLLIN, 0};
    poll(&p, 1, 100);
  }
  return false;
}

void flipLatency(benchmark::State& s) {
  Screen screen(nullptr);
  if (!screen.ok) return s.SkipWithError("the X11 back end did not open");
  setPages(1, 0);
  Display* d = XOpenDisplay(nullptr);
  int events = 0, errors = 0;
  if (!d || !XDamageQueryExtension(d, &events, &errors)) return s.SkipWithError("no XDamage");
  const Window w = runtimeWindow(d);
  const Damage damage = XDamageCreate(d, w, XDamageReportRawRectangles);
  const int notify = events + XDamageNotify;
  std::mt19937 random(3);
  std::vector<double> ms;
  for (auto _ : s) {
    // Apart at random, so that flips meet a window thread on a tick at
    // every phase of it; the events of the last flip drained.
    std::this_thread::sleep_for(std::chrono::microseconds(4000 + random() % 20000));
    XSync(d, False);
    while (XPending(d)) {
      XEvent e;
      XNextEvent(d, &e);
    }
    currentMode()->pages[1][0] = static_cast<uint8_t>(random());
    copyPage(-1, -1);
    const auto flipped = std::chrono::steady_clock::now();
    if (!damageArrives(d, notify)) {
      s.SkipWithError("a flip's rows never reached the server");
      break;
    }
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - flipped;
    s.SetIterationTime(took.count());
    ms.push_back(took.count() * 1000);
  }
  XDamageDestroy(d, damage);
  XCloseDisplay(d);
  if (ms.empty()) return;
  std::sort(ms.begin(), ms.end());
  s.counters["p50_ms"] = ms[ms.size() / 2];
  s.counters["p99_ms"] = ms[std::min(ms.size() - 1, ms.size() * 99 / 100)];
}
#endif

}  // namespace

BENCHMARK(presentFloor)->Name("present/baseline")->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(presentBackend)->Name("present/x11")->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(bandFloor)->Name("band/baseline")->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(bandBackend)->Name("band/x11")->Unit(benchmark::kMicrosecond)->UseRealTime();
#ifdef PEL_HAVE_SDL2
BENCHMARK(presentBackend)->Name("sdl2/baseline")->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(sdlShared)->Name("sdl2/shared_memory")->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(sdlDefault)->Name("sdl2/default")->Unit(benchmark::kMicrosecond)->UseRealTime();
#endif
BENCHMARK_CAPTURE(scaledFloor, 800, 800, 600)->Name("scaled/baseline")->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK_CAPTURE(scaledBackend, 800, 800, 600)->Name("scaled/x11")->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK_CAPTURE(scaledFloor, 320, 320, 200)->Name("scaled320/baseline")->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(zoomFloor)->Name("zoom3/baseline")->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK_CAPTURE(zoomBackend, frame, 0, 199)->Name("zoom3/x11")->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK_CAPTURE(zoomBackend, frame, 0, 199)->Name("zoom3band/baseline")->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK_CAPTURE(zoomBackend, row, 100, 100)->Name("zoom3band/x11")->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK_CAPTURE(scaledBackend, 320, 320, 200)->Name("scaled320/x11")->Unit(benchmark::kMicrosecond)->UseRealTime();
#ifdef PEL_HAVE_XRENDER
BENCHMARK_CAPTURE(scaledXRender, 800, 800, 600)->Name("scaled/xrender")->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK_CAPTURE(scaledXRender, 320, 320, 200)
    ->Name("scaled320/xrender")
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();
#endif
BENCHMARK(demoNull)->Name("demo/baseline")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(demoX11)->Name("demo/x11")->Unit(benchmark::kMillisecond)->UseRealTime();
#ifdef PEL_HAVE_XDAMAGE
BENCHMARK(flipLatency)->Name("latency/x11")->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(500);
#endif
