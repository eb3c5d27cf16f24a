#include "glx_driver.h"
#include "glx_testing.h"

// The runtime's headers before X's (see x11_library.h).
#include "gfx/drivers/gl_setup.h"
#include "gfx/drivers/window_rules.h"
#include "gfx/mode.h"

#include "gfx/drivers/x11/x11_window.h"

#include <GL/glx.h>
#include <dlfcn.h>

namespace pel {
namespace {

using namespace x11;

constexpr GLenum multisampleArb = 0x809D;

// libGL's entry points, each listed once.
#define PEL_GLX_ENTRIES(X)                                                                                 \
  X(glXQueryExtension) X(glXChooseFBConfig) X(glXGetVisualFromFBConfig) X(glXCreateNewContext)            \
  X(glXMakeCurrent) X(glXDestroyContext) X(glXSwapBuffers) X(glXQueryExtensionsString)

struct GlxLibrary {
  void* handle = nullptr;
#define PEL_GLX_POINTER(name) decltype(&::name) name = nullptr;
  PEL_GLX_ENTRIES(PEL_GLX_POINTER)
#undef PEL_GLX_POINTER
};

// Loaded on the first OpenGL mode set and kept; null when libGL or one of
// its entries is missing.
const GlxLibrary* glxLibrary() {
  static const GlxLibrary* loaded = [] () -> const GlxLibrary* {
    static GlxLibrary l;
    l.handle = dlopen("libGL.so.1", RTLD_NOW | RTLD_LOCAL);
    if (!l.handle) return nullptr;
    bool all = true;
#define PEL_GLX_FIND(name)                                                \
  l.name = reinterpret_cast<decltype(l.name)>(dlsym(l.handle, #name)); \
  all = all && l.name;
    PEL_GLX_ENTRIES(PEL_GLX_FIND)
#undef PEL_GLX_FIND
    return all ? &l : nullptr;
  }();
  return loaded;
}

struct Glx {
  const GlxLibrary* lib = nullptr;
  GLXContext context = nullptr;
  bool told = false;  // the close request for a lost server was sent
  bool published = false;  // the scaled viewport is in the programs' table
  GlEntryPoints gl{};
  char extensions[extensionTextSize] = {};
};
Glx g;
FramebufferChooser chooserOverride = nullptr;
int32_t samplesChosen = 0;

constexpr FormatAttributeNames glxNames = {
    .drawToWindow = GLX_DRAWABLE_TYPE,
    .drawToWindowValue = GLX_WINDOW_BIT,
    .acceleration = GLX_X_RENDERABLE,
    .accelerationValue = True,
    .doubleBuffer = GLX_DOUBLEBUFFER,
    // Neither alpha nor the total size is asked: both lead to a 32-bit
    // visual, whose window a compositor shows see-through wherever the
    // program leaves alpha below 1, and which screen grabbers cannot read.
    .colorBits = 0,
    .redBits = GLX_RED_SIZE,
    .greenBits = GLX_GREEN_SIZE,
    .blueBits = GLX_BLUE_SIZE,
    .alphaBits = 0,
    .depthBits = GLX_DEPTH_SIZE,
    .accumBits = 0,  // GLX has only the components
    .accumRedBits = GLX_ACCUM_RED_SIZE,
    .accumGreenBits = GLX_ACCUM_GREEN_SIZE,
    .accumBlueBits = GLX_ACCUM_BLUE_SIZE,
    .accumAlphaBits = GLX_ACCUM_ALPHA_SIZE,
    .stencilBits = GLX_STENCIL_SIZE,
    .sampleBuffers = GLX_SAMPLE_BUFFERS,
    .samples = GLX_SAMPLES,
};

// The first configuration the chooser gives for the list, if any.
std::optional<GLXFBConfig> firstConfig(const int32_t* list) {
  int count = 0;
  GLXFBConfig* configs =
      chooserOverride
          ? reinterpret_cast<GLXFBConfig*>(chooserOverride(win->display, win->screen, list, &count))
          : g.lib->glXChooseFBConfig(win->display, win->screen, list, &count);
  std::optional<GLXFBConfig> first;
  if (configs && count >= 1) first = configs[0];
  if (configs) xl->XFree(configs);
  return first;
}

// The configuration for the options, samples lowered as needed; else any
// double-buffered one that draws to windows.
std::optional<GLXFBConfig> chooseConfig() {
  FormatAttributes attributes = formatAttributes(glxNames, glOptions());
  std::optional<GLXFBConfig> config;
  chooseLoweringSamples(attributes, [&](const int32_t* list) -> std::optional<int32_t> {
    config = firstConfig(list);
    return config ? std::optional<int32_t>(1) : std::nullopt;
  });
  samplesChosen = samplesLeft(attributes);
  if (config) return config;
  const int32_t plain[] = {GLX_DRAWABLE_TYPE, GLX_WINDOW_BIT, GLX_DOUBLEBUFFER, True, 0};
  return firstConfig(plain);
}

// The program's viewport follows the picture's shown size (the picture
// window is the drawable).
void pictureMoved() {
  if (g.published) placeGlPicture(win->width, win->height, win->picture.height, 0, 0, win->picture.width, win->picture.height);
}

// The context follows the picture window through the full-screen rebuild.
bool windowBuilt() {
  if (!g.context || !g.lib->glXMakeCurrent(win->display, win->pictureWindow, g.context)) return false;
  pictureMoved();
  return true;
}
void windowGoing() {
  if (g.context) g.lib->glXMakeCurrent(win->display, None, nullptr);
}

int32_t glxInit(const char* title, int32_t width, int32_t height, int32_t depth, int32_t, int32_t flags) {
  samplesChosen = 0;
  auto refuse = [](const char* reason) {
    refuseBecause(reason);
    return -1;
  };
  if (!(flags & modeflag::openGl)) return refuse("only for modes with the OpenGL flag");
  if (width > largestWindowSide || height > largestWindowSide) return refuse(tooLargeReason);
  const GlxLibrary* lib = glxLibrary();
  if (!lib) return refuse("libGL not found");
  if (!createLayer(title, width, height, flags, {windowBuilt, windowGoing, pictureMoved}))
    return refuse("the X11 libraries are missing");
  win->scaleToFit = win->scale.on();
  g = Glx{};
  g.lib = lib;
  int event = 0, error = 0;
  if (!openDisplay()) return refuse("no X display (is DISPLAY set?)");
  if (!lib->glXQueryExtension(win->display, &error, &event)) return refuse("the X server has no GLX");

  GlOptions& o = glOptions();
  fillGlDefaults(o, depth, flags);
  const std::optional<GLXFBConfig> config = chooseConfig();
  if (!config) return refuse("no framebuffer configuration fits");
  XVisualInfo* visual = lib->glXGetVisualFromFBConfig(win->display, *config);
  if (!visual) return refuse("no framebuffer configuration fits");
  win->pictureVisual = visual->visual;
  win->pictureDepth = visual->depth;
  win->colormap = xl->XCreateColormap(win->display, RootWindow(win->display, win->screen), visual->visual, AllocNone);
  xl->XFree(visual);
  g.context = lib->glXCreateNewContext(win->display, *config, GLX_RGBA_TYPE, nullptr, True);
  if (!g.context) return refuse("no OpenGL context");
  if (!initWindow()) return refuse("the window could not be made");

  if (!loadGlEntryPoints(g.gl, [lib](const char* name) { return dlsym(lib->handle, name); })) {
    return refuse("libGL lacks OpenGL 1.1 entry points");
  }
  buildExtensionText(g.extensions, reinterpret_cast<const char*>(g.gl.glGetString(GL_EXTENSIONS)),
                     lib->glXQueryExtensionsString(win->display, win->screen));
  if (!extensionOffered(g.extensions, "GL_EXT_bgra")) return refuse("GL_EXT_bgra not offered");
  if (o.samples != 0 && samplesChosen > 0) g.gl.glEnable(multisampleArb);
  activation(win->rules, true);
  publishGlEntryPoints(g.gl, win->scale.on());
  g.published = win->scale.on();
  pictureMoved();
  return 0;
}

void glxExit() {
  setGlEntryPoints(nullptr);
  if (!win || !g.lib) return;
  if (g.context && win->display) {
    g.lib->glXMakeCurrent(win->display, None, nullptr);
    g.lib->glXDestroyContext(win->display, g.context);
  }
  g.context = nullptr;
  closeDisplay();  // the window with it
  destroyLayer();
  g.lib = nullptr;
}

void glxFlip() {
  if (win->pictureWindow && !win->lost) g.lib->glXSwapBuffers(win->display, win->pictureWindow);
}

void glxPollEvents() {
  if (win->lost) {
    if (!g.told) closeRequest(win->rules);
    g.told = true;
    return;
  }
  // The key state follows the events: no round trip to the server a frame.
  handleEvents();
  xl->XFlush(win->display);
}

}  // namespace

void setFramebufferChooser(FramebufferChooser chooser) { chooserOverride = chooser; }
int32_t glxSamplesChosen() { return samplesChosen; }

const DisplayDriver glxDriver = openGlDriver({
    .init = glxInit,
    .exit = glxExit,
    .waitVsync = waitVsync,
    .getMouse = getMouse,
    .setMouse = setMouse,
    .setWindowTitle =
        [](const char* title) {
          setTitle(title);
          if (win && win->display) applyTitle();  // the program's thread owns the connection
        },
    .setWindowPos = setWindowPos,
    .fetchModes = fetchModes,
    .flip = glxFlip,
    .pollEvents = glxPollEvents,
});

}  // namespace pel
