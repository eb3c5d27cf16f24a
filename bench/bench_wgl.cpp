// The OpenGL example's frames through the runtime's "OpenGL" back end
// against the same program's bare loop (its own window and WGL context: the
// same clear and draw calls, the swap, and the message pumping every Windows
// program does), under Wine with Mesa's software renderer (scripts/wine-env).
// Prints the median frame rates of the repetitions and their ratio.
// Usage: bench_wgl [repetitions]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "disc_scene.h"
#include "gfx/drivers/gl_setup.h"
#include "gfx/mode.h"
#include "gfx/pages.h"
#include "runtime/runtime.h"

using namespace pel;

namespace {

constexpr int width = 800, height = 600;
constexpr double secondsEach = 1.0;

double now() {
  LARGE_INTEGER c, f;
  QueryPerformanceCounter(&c);
  QueryPerformanceFrequency(&f);
  return static_cast<double>(c.QuadPart) / static_cast<double>(f.QuadPart);
}

template <typename Frame>
double framesPerSecond(Frame frame) {
  int64_t frames = 0;
  const double start = now();
  while (now() - start < secondsEach) {
    frame();
    ++frames;
  }
  return static_cast<double>(frames) / (now() - start);
}

double bareRate() {
  WNDCLASSA c{};
  c.style = CS_OWNDC;
  c.lpfnWndProc = DefWindowProcA;
  c.hInstance = GetModuleHandleA(nullptr);
  c.lpszClassName = "bare-gl";
  RegisterClassA(&c);
  RECT outer{0, 0, width, height};
  AdjustWindowRect(&outer, WS_OVERLAPPEDWINDOW, FALSE);
  HWND window = CreateWindowExA(0, "bare-gl", "bare", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, outer.right - outer.left,
                                outer.bottom - outer.top, nullptr, nullptr, c.hInstance, nullptr);
  HDC device = GetDC(window);
  PIXELFORMATDESCRIPTOR d{};
  d.nSize = sizeof d;
  d.nVersion = 1;
  d.dwFlags = PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL | PFD_DOUBLEBUFFER;
  d.iPixelType = PFD_TYPE_RGBA;
  d.cColorBits = 32;
  d.cDepthBits = 16;
  SetPixelFormat(device, ChoosePixelFormat(device, &d), &d);
  HGLRC context = wglCreateContext(device);
  wglMakeCurrent(device, context);
  HMODULE library = GetModuleHandleA("opengl32.dll");
  GlEntryPoints gl{};
  loadGlEntryPoints(gl, [library](const char* name) { return reinterpret_cast<void*>(GetProcAddress(library, name)); });
  examples::DiscScene scene;
  scene.start(gl, width, height);
  const double rate = framesPerSecond([&] {
    scene.draw(gl);
    SwapBuffers(device);
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
  });
  scene.end(gl);
  wglMakeCurrent(nullptr, nullptr);
  wglDeleteContext(context);
  ReleaseDC(window, device);
  DestroyWindow(window);
  UnregisterClassA("bare-gl", c.hInstance);
  return rate;
}

double runtimeRate() {
  if (openScreenBySize(width, height, 32, 1, modeflag::openGl, 0) != 0) return 0;
  const GlEntryPoints& gl = *glEntryPoints();
  examples::DiscScene scene;
  scene.start(gl, width, height);
  const double rate = framesPerSecond([&] {
    scene.draw(gl);
    copyPage(-1, -1);
  });
  scene.end(gl);
  closeScreen();
  return rate;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const int repetitions = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  runtimeInit(argc, argv, 0);
  _putenv_s("KELGFX", "OpenGL");
  std::vector<double> bare, runtime;
  // A first round for Wine and Mesa to settle (their caches, the shaders).
  bareRate();
  runtimeRate();
  for (int r = 0; r < repetitions; ++r) {
    bare.push_back(bareRate());
    runtime.push_back(runtimeRate());
  }
  if (median(runtime) == 0) {
    std::fprintf(stderr, "bench_wgl: the OpenGL back end did not open\n");
    return 1;
  }
  std::printf("%-40s %10s (median of %d)\n", "measure", "frames/s", repetitions);
  std::printf("%-40s %10.1f\n", "opengl/baseline (bare WGL loop)", median(bare));
  std::printf("%-40s %10.1f     speed ratio %6.3f\n", "opengl/runtime", median(runtime), median(runtime) / median(bare));
  runtimeEnd(0);
}
