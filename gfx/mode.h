// The open graphics mode (ScreenMode) and the drawing state (DrawContext).
#pragma once
#include <cstdint>

#include "gfx/pixel.h"

namespace pel {

struct DisplayDriver;
struct FontRecord;
struct PaletteRecord;
struct WindowEvent;

// Mode flags of a mode set.
namespace modeflag {
constexpr int32_t fullScreen = 0x01;
constexpr int32_t openGl = 0x02;
constexpr int32_t noSwitching = 0x04;
constexpr int32_t noFrame = 0x08;
constexpr int32_t shaped = 0x10;
constexpr int32_t alwaysOnTop = 0x20;
constexpr int32_t alphaPrimitives = 0x40;
constexpr int32_t highPriority = 0x80;
constexpr int32_t nullBackend = -1;
constexpr int32_t atExit = INT32_MIN;  // 0x80000000: the close done at program exit
}  // namespace modeflag

// Internal ScreenMode::flags bits.
namespace screenflag {
constexpr uint32_t pendingNewline = 0x04;
constexpr uint32_t alphaPrimitives = 0x08;
constexpr uint32_t highPriority = 0x20;
constexpr uint32_t vector = 0x1000000;  // the processor has the vector routines
constexpr uint32_t openGl = 0x20000000;
}  // namespace screenflag

struct ScreenMode {
  uint32_t id;
  int32_t modeNumber;
  uint8_t** pages;
  uint32_t pageCount;
  uint32_t visiblePage;
  uint8_t* visibleBuffer;
  int32_t width, height;
  int32_t depth;
  int32_t bytesPerPixel;
  int32_t pitch;
  uint32_t* deviceColors;  // 256 entries, 0x00BBGGRR
  uint32_t* palette;       // 256 entries, 0x00BBGGRR
  uint8_t* colorMap;       // 16 entries
  uint8_t* dirty;          // height * scanlineRepeat entries
  const DisplayDriver* driver;
  uint32_t colorMask;
  const PaletteRecord* defaultPalette;
  int32_t scanlineRepeat;
  int32_t cursorColumn, cursorRow;
  const FontRecord* font;
  int32_t textColumns, textRows;
  float aspect;
  uint8_t* keyState;  // 128 entries
  int32_t refreshRate;
  uint8_t** textPages;
  WindowEvent* eventQueue;
  uint32_t eventRead, eventWrite;
  void* eventLock;
  uint32_t flags;
  int32_t lockCount;
};

namespace contextflag {
constexpr uint32_t rebuildScreen = 0x01;
constexpr uint32_t imageTarget = 0x02;
}  // namespace contextflag

struct DrawContext {
  uint32_t modeId;
  int32_t workPage;
  uint8_t** rows;
  int32_t rowCapacity;
  int32_t targetBytesPerPixel, targetPitch;
  const void* target;
  float lastX, lastY;
  int32_t viewX, viewY, viewWidth, viewHeight;
  int32_t screenViewX, screenViewY, screenViewWidth, screenViewHeight;
  uint32_t foreground, background;
  PutPixelFn putPixel;
  GetPixelFn getPixel;
  FillSpanFn fillSpan;
  uint32_t flags;
};

// The open mode, or null while none is open.
ScreenMode* currentMode();

// Front ends. Each returns an error number (0 success, 1 invalid call or
// nothing could be opened), also stored as the runtime's last error.
int32_t openScreenBySize(int32_t width, int32_t height, int32_t depth, int32_t pages, int32_t flags,
                         int32_t refreshRate);
// Screen 1 to 21 from the screen table; screen 0 closes the graphics mode.
int32_t openScreenByNumber(int32_t screen, int32_t depth, int32_t pages, int32_t flags, int32_t refreshRate);
// The depths a numbered screen opens at: its own (or 0), and for screens above 13
// also 8, 15, 16, 24 and 32 when asked. False for screens that do not exist.
bool numberedScreenTakesDepth(int32_t screen, int32_t depth);
int32_t openScreenWithPages(int32_t screen, int32_t workPage, int32_t visiblePage);
// Closes an open mode as at program exit: hooks emptied, console untouched.
void closeScreen();
// Why the last mode set failed, in words: the size refused, or each back end
// tried and its reason ("X11: no X display; OpenGL: needs the OpenGL flag").
// Empty after a mode set that succeeded.
const char* modeSetFailure();
int32_t setMode(int32_t screen, int32_t width, int32_t height, int32_t depth, int32_t scanlineRepeat,
                int32_t pages, int32_t refreshRate, int32_t paletteIndex, int32_t fontIndex, int32_t flags,
                float aspect, int32_t textColumns, int32_t textRows);

// The drawing context, rebuilt first when it belongs to an older mode.
DrawContext* getContext();
// Makes an image (either header form) or, with null, the screen's work page
// the target. Returns false, changing nothing, for an image whose header
// describes no drawable pixels.
bool selectTarget(DrawContext* context, const void* image);
// selectTarget (null) and chooseDrawRoutines (0xFF000000).
void resetScreenTarget(DrawContext* context);

// The blitters' 2,048-byte scratch table of the open mode (null without one).
uint32_t* blitterScratch();

// Long image header: words 7, bytes per pixel, width, height, pitch; the
// pixels start 32 bytes after the header.
struct ImageHeader {
  int32_t tag;  // 7
  int32_t bytesPerPixel;
  int32_t width;
  int32_t height;
  int32_t pitch;
  int32_t reserved[3];
};
static_assert(sizeof(ImageHeader) == 32);
constexpr int32_t longImageTag = 7;

}  // namespace pel
