// The X11 back end on a private Xvfb (or on $DISPLAY with
// PEL_BENCH_USE_DISPLAY=1):
// - present: a whole 800 x 600 frame through the back end against the floor,
//   one memcpy of the page into a shared image, a bare XShmPutImage and XSync;
// - band: a 10-row band likewise;
// - sdl2: the back end's frame against SDL2's window surface, with its plain
//   shared-memory path and with its default (accelerated) path;
// - demo: the demo's frames on X11 against the same frames on the null back end.
#include <benchmark/benchmark.h>

#include <sys/ipc.h>
#include <sys/shm.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "demo/disc.h"
#include "demo/pellucet.h"
#include "gfx/drivers/x11/x11_driver.h"
#include "gfx/mode.h"
#include "gfx/pages.h"
#include "private_xvfb.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
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
  }
} server;

void fillRandom(uint8_t* bytes, std::size_t count) {
  std::mt19937 random(7);
  for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(random());
}

// The runtime's 800 x 600 screen on the given back end.
struct Screen {
  explicit Screen(const char* backend) {
    if (backend)
      setenv("KELGFX", backend, 1);
    else
      unsetenv("KELGFX");
    ok = openScreenBySize(width, height, 32, 2, 0, 0) == 0 &&
         (backend || std::strcmp(currentMode()->driver->name, "X11") == 0);
    if (ok) fillRandom(currentMode()->pages[0], static_cast<std::size_t>(width) * height * 4);
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
  BareWindow() {
    if (!d || !XShmQueryExtension(d)) return;
    const int s = DefaultScreen(d);
    w = XCreateSimpleWindow(d, RootWindow(d, s), 0, 0, width, height, 0, 0, 0);
    XMapWindow(d, w);
    gc = XCreateGC(d, w, 0, nullptr);
    image = XShmCreateImage(d, DefaultVisual(d, s), static_cast<unsigned>(DefaultDepth(d, s)), ZPixmap, nullptr, &shm,
                            width, height);
    shm.shmid = shmget(IPC_PRIVATE, static_cast<std::size_t>(image->bytes_per_line) * height, IPC_CREAT | 0600);
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
                page + static_cast<std::size_t>(top) * width * 4, static_cast<std::size_t>(rows) * width * 4);
    XShmPutImage(d, w, gc, image, 0, top, 0, top, width, static_cast<unsigned>(rows), False);
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
BENCHMARK(demoNull)->Name("demo/baseline")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(demoX11)->Name("demo/x11")->Unit(benchmark::kMillisecond)->UseRealTime();
