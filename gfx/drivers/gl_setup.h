// What the OpenGL back ends (WGL on Windows, GLX on X11) share: the
// requested framebuffer sizes and their defaults, the extension text and the
// rule that says whether an extension is offered, the attribute list for the
// format choosers with its sample lowering, and the OpenGL 1.1 entry points
// the runtime loads for itself and for programs.
#pragma once

#if defined(_WIN32)
#include <windows.h>
#endif
#include <GL/gl.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "gfx/driver.h"

namespace pel {

// Mode flags only the OpenGL back ends read.
namespace glflag {
constexpr int32_t stencil = 0x10000;
constexpr int32_t accumulation = 0x20000;
constexpr int32_t multisample = 0x40000;
}  // namespace glflag

// The requested framebuffer sizes. Fields still 0 get defaults at each
// OpenGL mode set, which stay in the record for later ones.
struct GlOptions {
  int32_t colorBits, redBits, greenBits, blueBits, alphaBits;
  int32_t depthBits, stencilBits;
  int32_t accumBits, accumRedBits, accumGreenBits, accumBlueBits, accumAlphaBits;
  int32_t samples;
};

// The program-wide record.
GlOptions& glOptions();
void fillGlDefaults(GlOptions& o, int32_t depth, int32_t modeFlags);

// The GL extension string and the platform's (WGL, GLX) joined by a space,
// cut to fit and zero-terminated.
constexpr std::size_t extensionTextSize = 16384;
void buildExtensionText(char (&text)[extensionTextSize], const char* gl, const char* platform);
// A name counts only as a whole word: followed by a space or the end.
bool extensionOffered(const char* text, const char* name);

// The platform's names for the attributes of a format choice; 0 leaves an
// attribute out.
struct FormatAttributeNames {
  int32_t drawToWindow, drawToWindowValue;
  int32_t acceleration, accelerationValue;
  int32_t doubleBuffer;
  int32_t colorBits, redBits, greenBits, blueBits, alphaBits, depthBits;
  int32_t accumBits, accumRedBits, accumGreenBits, accumBlueBits, accumAlphaBits, stencilBits;
  int32_t sampleBuffers, samples;
};

struct FormatAttributes {
  std::vector<int32_t> list;  // name, value pairs, then 0
  std::size_t samplesAt = 0;  // index of the samples value; 0 when none asked
};

FormatAttributes formatAttributes(const FormatAttributeNames& names, const GlOptions& o);

// Runs the chooser on the list; when it finds nothing and samples were
// asked, lowers them by 2 and tries again while they are not below 0. The
// chooser's format, or nothing (the platform's plain choice comes next).
std::optional<int32_t> chooseLoweringSamples(FormatAttributes& a,
                                             const std::function<std::optional<int32_t>(const int32_t*)>& choose);
// Samples left in the list after the choice (0 when none were asked).
inline int32_t samplesLeft(const FormatAttributes& a) { return a.samplesAt ? a.list[a.samplesAt] : 0; }

// Every OpenGL 1.1 entry point the runtime needs, listed once.
#define PEL_GL_ENTRIES(X)                                                                                            \
  X(glEnable) X(glDisable) X(glEnableClientState) X(glDisableClientState) X(glGetString) X(glViewport)               \
  X(glMatrixMode) X(glLoadIdentity) X(glOrtho) X(glShadeModel) X(glDepthMask) X(glClearColor) X(glClear)             \
  X(glGenTextures) X(glDeleteTextures) X(glBindTexture) X(glTexParameteri) X(glTexImage2D) X(glTexSubImage2D)       \
  X(glVertexPointer) X(glTexCoordPointer) X(glDrawArrays) X(glPushMatrix) X(glPopMatrix) X(glPushAttrib)             \
  X(glPopAttrib) X(glPushClientAttrib) X(glPopClientAttrib) X(glPixelStorei) X(glPixelTransferi) X(glPixelMapfv)      \
  X(glScissor)

struct GlEntryPoints {
#define PEL_GL_POINTER(name) decltype(&::name) name;
  PEL_GL_ENTRIES(PEL_GL_POINTER)
#undef PEL_GL_POINTER
};

// Looks every entry up by name; false when one is missing.
bool loadGlEntryPoints(GlEntryPoints& gl, const std::function<void*(const char*)>& lookup);

// The entry points of the open OpenGL mode, null when none is open. Programs
// draw through these, so they need not link an OpenGL library themselves.
const GlEntryPoints* glEntryPoints();
void setGlEntryPoints(const GlEntryPoints* gl);

// Zoomed and resizable OpenGL windows: programs still give the viewport in
// page pixels. Publishing with `scaled` hands programs a glViewport that
// maps the rectangle onto the picture's place in the drawable; placing the
// picture (top-down drawable coordinates) applies the program's last
// viewport there, the whole page until it sets one. On the thread the
// context is current on.
void publishGlEntryPoints(GlEntryPoints& gl, bool scaled);
void placeGlPicture(int32_t pageW, int32_t pageH, int32_t drawableH, int32_t x, int32_t y, int32_t shownW,
                    int32_t shownH);
// Clears the drawable outside the picture to black, leaving the program's
// state as it was (a drawable wider or taller than the picture has bars).
void clearGlBars(int32_t drawableW, int32_t drawableH);

// setPalette of the OpenGL back ends: each component / 256 into colour maps
// the program may hand to glPixelMapfv.
struct GlColorMaps {
  float red[256], green[256], blue[256];
};
const GlColorMaps& glColorMaps();
void setGlPalette(int32_t index, int32_t red, int32_t green, int32_t blue);

// An OpenGL back end's table: the program's thread alone draws and
// presents, so there is no lock, and the palette waits for the upload.
constexpr DisplayDriver openGlDriver(DisplayDriver table) {
  table.name = "OpenGL";
  table.lock = [] {};
  table.unlock = [] {};
  table.setPalette = setGlPalette;
  return table;
}

}  // namespace pel
