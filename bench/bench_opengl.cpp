// The OpenGL example's frames through the runtime's "OpenGL" back end
// against the same program's bare loop (its own Xlib window and GLX context:
// the same clear and draw calls, then the swap), both on Mesa's software
// renderer on a private Xvfb (or on $DISPLAY with PEL_BENCH_USE_DISPLAY=1).
// Frame rates on a shared machine wander: run with --benchmark_repetitions=9
// --benchmark_enable_random_interleaving=true, so the two alternate.
#include <benchmark/benchmark.h>

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "disc_scene.h"
#include "gfx/drivers/gl_setup.h"
#include "gfx/mode.h"
#include "gfx/pages.h"
#include "private_xvfb.h"

#include <GL/glx.h>

using namespace pel;

namespace {

constexpr int width = 800, height = 600;

struct Server {
  PrivateXvfb xvfb;
  // Xvfb resets when its last client leaves, refusing connections a moment:
  // one stays for the whole run.
  Display* keeper = nullptr;
  Server() {
    const char* use = std::getenv("PEL_BENCH_USE_DISPLAY");
    if (use && std::strcmp(use, "1") == 0 && std::getenv("DISPLAY")) return;
    if (!xvfb.start()) {
      std::fputs("bench_opengl: Xvfb did not start\n", stderr);
      std::exit(1);
    }
    setenv("DISPLAY", xvfb.display.c_str(), 1);
    keeper = XOpenDisplay(nullptr);
  }
} server;

void countFrames(benchmark::State& s) {
  s.counters["frames/s"] = benchmark::Counter(static_cast<double>(s.iterations()), benchmark::Counter::kIsRate);
}

// The bare program: a window of the screen's visual with a double-buffered
// context, as the runtime would choose it.
void bare(benchmark::State& s) {
  Display* d = XOpenDisplay(nullptr);
  if (!d) return s.SkipWithError("no display");
  const int attributes[] = {GLX_DRAWABLE_TYPE, GLX_WINDOW_BIT, GLX_X_RENDERABLE, True, GLX_DOUBLEBUFFER, True,
                            GLX_RED_SIZE, 8, GLX_GREEN_SIZE, 8, GLX_BLUE_SIZE, 8, GLX_DEPTH_SIZE, 16, 0};
  int count = 0;
  GLXFBConfig* configs = glXChooseFBConfig(d, DefaultScreen(d), attributes, &count);
  if (!configs || count < 1) return s.SkipWithError("no configuration");
  XVisualInfo* visual = glXGetVisualFromFBConfig(d, configs[0]);
  XSetWindowAttributes a{};
  a.colormap = XCreateColormap(d, DefaultRootWindow(d), visual->visual, AllocNone);
  const Window w = XCreateWindow(d, DefaultRootWindow(d), 0, 0, width, height, 0, visual->depth, InputOutput,
                                 visual->visual, CWColormap | CWBorderPixel, &a);
  XMapWindow(d, w);
  GLXContext context = glXCreateNewContext(d, configs[0], GLX_RGBA_TYPE, nullptr, True);
  glXMakeCurrent(d, w, context);
  GlEntryPoints gl{};
  loadGlEntryPoints(gl, [](const char* name) { return dlsym(RTLD_DEFAULT, name); });
  examples::DiscScene scene;
  scene.start(gl, width, height);
  for (auto _ : s) {
    scene.draw(gl);
    glXSwapBuffers(d, w);
  }
  countFrames(s);
  scene.end(gl);
  glXMakeCurrent(d, None, nullptr);
  glXDestroyContext(d, context);
  XDestroyWindow(d, w);
  XFreeColormap(d, a.colormap);
  XFree(visual);
  XFree(configs);
  XCloseDisplay(d);
}

// The example: the runtime's OpenGL mode, each frame ended by the page flip
// (the swap, then the window's events).
void runtime(benchmark::State& s) {
  unsetenv("KELGFX");
  if (openScreenBySize(width, height, 32, 1, modeflag::openGl, 0) != 0) return s.SkipWithError("no OpenGL mode");
  const GlEntryPoints& gl = *glEntryPoints();
  examples::DiscScene scene;
  scene.start(gl, width, height);
  for (auto _ : s) {
    scene.draw(gl);
    copyPage(-1, -1);
  }
  countFrames(s);
  scene.end(gl);
  closeScreen();
}

}  // namespace

BENCHMARK(bare)->Name("opengl/baseline")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(runtime)->Name("opengl/runtime")->Unit(benchmark::kMillisecond)->UseRealTime();
