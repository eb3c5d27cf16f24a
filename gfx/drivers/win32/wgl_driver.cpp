#include "wgl_driver.h"
#include "wgl_testing.h"

#include <cstdlib>

#include "gfx/drivers/gl_setup.h"  // GL/gl.h, which wglext.h needs first

#include <GL/wglext.h>

#include "gfx/drivers/win32/win32_window.h"
#include "gfx/mode.h"

namespace pel {
namespace {

using namespace win32;
WindowState& ws = windowState;

constexpr GLenum multisampleArb = 0x809D;

struct Wgl {
  HMODULE library;
  decltype(&::wglCreateContext) createContext;
  decltype(&::wglMakeCurrent) makeCurrent;
  decltype(&::wglDeleteContext) deleteContext;
  PixelFormatChooser choosePixelFormat;  // present when WGL_ARB_pixel_format is offered
  HDC device;
  HGLRC context;
  bool displayChanged;  // a full-screen display mode is set and must be undone
  GlEntryPoints gl;
  char extensions[extensionTextSize];
};
Wgl w{};
PixelFormatChooser chooserOverride = nullptr;
int32_t samplesChosen = 0;

// Draw to a window, OpenGL, double-buffered, RGBA; sizes from the options.
PIXELFORMATDESCRIPTOR descriptor(const GlOptions& o) {
  PIXELFORMATDESCRIPTOR d{};
  static_assert(sizeof d == 40);
  d.nSize = sizeof d;
  d.nVersion = 1;
  d.dwFlags = PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL | PFD_DOUBLEBUFFER;
  d.iPixelType = PFD_TYPE_RGBA;
  d.cColorBits = static_cast<BYTE>(o.colorBits);
  d.cRedBits = static_cast<BYTE>(o.redBits);
  d.cGreenBits = static_cast<BYTE>(o.greenBits);
  d.cBlueBits = static_cast<BYTE>(o.blueBits);
  d.cAlphaBits = static_cast<BYTE>(o.alphaBits);
  d.cDepthBits = static_cast<BYTE>(o.depthBits);
  d.cAccumBits = static_cast<BYTE>(o.accumBits);
  d.cAccumRedBits = static_cast<BYTE>(o.accumRedBits);
  d.cAccumGreenBits = static_cast<BYTE>(o.accumGreenBits);
  d.cAccumBlueBits = static_cast<BYTE>(o.accumBlueBits);
  d.cAccumAlphaBits = static_cast<BYTE>(o.accumAlphaBits);
  d.cStencilBits = static_cast<BYTE>(o.stencilBits);
  return d;
}

constexpr FormatAttributeNames wglNames = {
    .drawToWindow = WGL_DRAW_TO_WINDOW_ARB,
    .drawToWindowValue = 1,
    .acceleration = WGL_ACCELERATION_ARB,
    .accelerationValue = WGL_FULL_ACCELERATION_ARB,
    .doubleBuffer = WGL_DOUBLE_BUFFER_ARB,
    .colorBits = WGL_COLOR_BITS_ARB,
    .redBits = WGL_RED_BITS_ARB,
    .greenBits = WGL_GREEN_BITS_ARB,
    .blueBits = WGL_BLUE_BITS_ARB,
    .alphaBits = WGL_ALPHA_BITS_ARB,
    .depthBits = WGL_DEPTH_BITS_ARB,
    .accumBits = WGL_ACCUM_BITS_ARB,
    .accumRedBits = WGL_ACCUM_RED_BITS_ARB,
    .accumGreenBits = WGL_ACCUM_GREEN_BITS_ARB,
    .accumBlueBits = WGL_ACCUM_BLUE_BITS_ARB,
    .accumAlphaBits = WGL_ACCUM_ALPHA_BITS_ARB,
    .stencilBits = WGL_STENCIL_BITS_ARB,
    .sampleBuffers = WGL_SAMPLE_BUFFERS_ARB,
    .samples = WGL_SAMPLES_ARB,
};

// A hidden 8 × 8 window with a plain context: the extension text, the
// OpenGL entry points and the ARB format chooser come from it.
int32_t probe() {
  HWND window = CreateWindowExW(0, ws.wideClassName, L"OpenGL setup", WS_POPUP | WS_CLIPSIBLINGS | WS_CLIPCHILDREN,
                                0, 0, 8, 8, nullptr, nullptr, ws.instance, nullptr);
  if (!window) return -1;
  HDC device = GetDC(window);
  GlOptions plain{};
  plain.depthBits = 32;
  const PIXELFORMATDESCRIPTOR d = descriptor(plain);
  SetPixelFormat(device, ChoosePixelFormat(device, &d), &d);
  HGLRC context = w.createContext(device);
  w.makeCurrent(device, context);

  using GetProc = PROC(WINAPI*)(LPCSTR);
  int32_t result = -1;
  if (auto getProc = entryPoint<GetProc>(w.library, "wglGetProcAddress"); getProc && context) {
    using ArbStrings = const char*(WINAPI*)(HDC);
    using ExtStrings = const char*(WINAPI*)();
    const char* platformText = nullptr;
    if (auto arb = procAs<ArbStrings>(getProc("wglGetExtensionsStringARB"))) {
      platformText = arb(device);
    } else if (auto ext = procAs<ExtStrings>(getProc("wglGetExtensionsStringEXT"))) {
      platformText = ext();
    }
    if (loadGlEntryPoints(w.gl, [](const char* name) {
          return reinterpret_cast<void*>(GetProcAddress(w.library, name));
        })) {
      const auto* glText = reinterpret_cast<const char*>(w.gl.glGetString(GL_EXTENSIONS));
      buildExtensionText(w.extensions, glText, platformText);
      if (extensionOffered(w.extensions, "GL_EXT_bgra")) {
        result = 0;
        if (extensionOffered(w.extensions, "WGL_ARB_pixel_format")) {
          w.choosePixelFormat = procAs<PixelFormatChooser>(getProc("wglChoosePixelFormatARB"));
        }
      }
    }
  }
  w.makeCurrent(nullptr, nullptr);
  if (context) w.deleteContext(context);
  ReleaseDC(window, device);
  DestroyWindow(window);
  return result;
}

// The existing window restyled for the mode flags: framed and centred, or
// covering the monitor in the full-screen display mode. The toggle runs it
// too, so the window, its device context and the context survive a switch.
// The program's viewport follows the picture's place in the client area.
void pictureMoved() {
  if (w.context && scaling()) {
    placeGlPicture(ws.width, ws.height, ws.windowH, ws.picture.x, ws.picture.y, ws.picture.width, ws.picture.height);
  }
}

int32_t initWindow() {
  ScreenMode* m = currentMode();
  HWND window = ws.window;
  if (!window) return -1;
  const MonitorInfo monitor = monitorInfo();
  const int32_t flags = modeFlags();
  auto style = static_cast<DWORD>(GetWindowLongA(window, GWL_STYLE));
  if (flags & (modeflag::fullScreen | modeflag::noFrame)) {
    style &= ~static_cast<DWORD>(WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX);
    style |= WS_POPUP;
  } else {
    style &= ~static_cast<DWORD>(WS_POPUP | WS_THICKFRAME);
    style |= WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    if (flags & modeflag::noSwitching) {
      style &= ~static_cast<DWORD>(WS_MAXIMIZEBOX);
    } else {
      style |= WS_MAXIMIZEBOX;
    }
    if (ws.scale.resizable) style |= WS_THICKFRAME | WS_MAXIMIZEBOX;
  }
  int32_t x = 0, y = 0, outerWidth = ws.width, outerHeight = ws.height;
  UINT placement = SWP_FRAMECHANGED;
  ws.scaledFullScreen = false;
  if (flags & modeflag::fullScreen) {
    Placement cover{};
    if (!fullScreenPlacement(monitor, cover, w.displayChanged)) return -1;
    x = cover.x;
    y = cover.y;
    outerWidth = cover.outerWidth;
    outerHeight = cover.outerHeight;
  } else {
    const Placement p = centredWindow(monitor, style);
    x = p.x;
    y = p.y;
    outerWidth = p.outerWidth;
    outerHeight = p.outerHeight;
    placement = SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED | SWP_NOOWNERZORDER | SWP_NOSENDCHANGING;
    static_assert((SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED | SWP_NOOWNERZORDER | SWP_NOSENDCHANGING) ==
                  0x634);
  }
  SetWindowLongA(window, GWL_STYLE, static_cast<LONG>(style));
  ws.outerWidth = outerWidth;
  ws.outerHeight = outerHeight;
  SetWindowPos(window, nullptr, x, y, outerWidth, outerHeight, placement);
  ShowWindow(window, SW_SHOW);
  SetForegroundWindow(window);
  ws.rules.active = true;
  if (m) publishRefreshRate(windowRefreshRate(window));
  return 0;
}

// Hides the window; the next initWindow shows it again.
void exitWindow() {
  if (w.displayChanged) {
    ChangeDisplaySettingsA(nullptr, 0);
    w.displayChanged = false;
  }
  if (HWND window = ws.window) ShowWindow(window, SW_HIDE);
}

// The format for the options: the ARB chooser with samples lowered as
// needed, else the closest plain one. 0 when there is none.
int chooseFormat(const PIXELFORMATDESCRIPTOR& d) {
  FormatAttributes attributes = formatAttributes(wglNames, glOptions());
  const PixelFormatChooser chooser = chooserOverride ? chooserOverride : w.choosePixelFormat;
  std::optional<int32_t> format;
  if (chooser) {
    format = chooseLoweringSamples(attributes, [&](const int32_t* list) -> std::optional<int32_t> {
      int chosen = 0;
      UINT count = 0;
      if (chooser(w.device, list, nullptr, 1, &chosen, &count) && count >= 1) return chosen;
      return std::nullopt;
    });
  }
  if (format && *format != 0) {
    samplesChosen = samplesLeft(attributes);
    return *format;
  }
  // The plain chooser knows nothing of samples: its format has none.
  samplesChosen = 0;
  return ChoosePixelFormat(w.device, &d);
}

int32_t wglInit(const char* title, int32_t width, int32_t height, int32_t depth, int32_t refreshRate, int32_t flags) {
  clearWindowState();
  w = Wgl{};
  samplesChosen = 0;
  if (!(flags & modeflag::openGl)) {
    refuseBecause("only for modes with the OpenGL flag");
    return -1;
  }

  w.library = LoadLibraryA("opengl32.dll");
  if (!w.library) {
    refuseBecause("opengl32.dll not found");
    return -1;
  }
  w.createContext = entryPoint<decltype(w.createContext)>(w.library, "wglCreateContext");
  w.makeCurrent = entryPoint<decltype(w.makeCurrent)>(w.library, "wglMakeCurrent");
  w.deleteContext = entryPoint<decltype(w.deleteContext)>(w.library, "wglDeleteContext");
  if (!w.createContext || !w.makeCurrent || !w.deleteContext) {
    FreeLibrary(w.library);
    w.library = nullptr;
    return -1;
  }
  ws.hooks = {initWindow, exitWindow, [] {}, nullptr, pictureMoved};
  if (windowInit(title, width, height, depth < 8 ? 8 : depth, refreshRate, flags) != 0) return -1;
  if (probe() != 0) return -1;
  if (openWindow(WS_CLIPSIBLINGS | WS_CLIPCHILDREN, 0, 0, 0, width, height) != 0) return -1;
  if (initWindow() != 0) return -1;

  GlOptions& o = glOptions();
  fillGlDefaults(o, depth, flags);
  const PIXELFORMATDESCRIPTOR d = descriptor(o);
  w.device = GetDC(ws.window);
  const int format = chooseFormat(d);
  if (format == 0) return -1;
  if (!SetPixelFormat(w.device, format, &d)) return -1;
  w.context = w.createContext(w.device);
  if (!w.context) return -1;
  w.makeCurrent(w.device, w.context);
  if (o.samples != 0 && samplesChosen > 0) w.gl.glEnable(multisampleArb);
  publishGlEntryPoints(w.gl, scaling());
  pictureMoved();
  return 0;
}

void wglExit() {
  if (w.library) {
    if (w.context) {
      w.makeCurrent(nullptr, nullptr);
      w.deleteContext(w.context);
      w.context = nullptr;
    }
    if (w.device) {
      ReleaseDC(ws.window, w.device);
      w.device = nullptr;
    }
    if (w.displayChanged) {
      ChangeDisplaySettingsA(nullptr, 0);
      w.displayChanged = false;
    }
    if (HWND window = ws.window) {
      DestroyWindow(window);
      ws.window = nullptr;
    }
    FreeLibrary(w.library);
    w.library = nullptr;
  }
  setGlEntryPoints(nullptr);
  windowExit();
}

void wglPollEvents() {
  if (ws.rules.active) refreshKeyState();
  drainMessages();
}

// Modes of exactly this many bits a pixel.
int32_t* wglFetchModes(int32_t depth, int32_t* count) { return displayModes(depth, false, count); }

}  // namespace

void setPixelFormatChooser(PixelFormatChooser chooser) { chooserOverride = chooser; }
int32_t wglSamplesChosen() { return samplesChosen; }

const DisplayDriver wglDriver = openGlDriver({
    .init = wglInit,
    .exit = wglExit,
    .waitVsync = waitVsync,
    .getMouse = getMouse,
    .setMouse = setMouse,
    .setWindowTitle = setWindowTitle,
    .setWindowPos = setWindowPos,
    .fetchModes = wglFetchModes,
    .flip =
        [] {
          if (scaling()) clearGlBars(ws.windowW, ws.windowH);
          SwapBuffers(w.device);
        },
    .pollEvents = wglPollEvents,
});

}  // namespace pel
