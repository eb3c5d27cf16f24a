#include "mode.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>

#include "gfx/console.h"
#include "gfx/driver.h"
#include "gfx/events.h"
#include "gfx/fonts.h"
#include "gfx/input.h"
#include "gfx/memory.h"
#include "gfx/pages.h"
#include "gfx/text_cells.h"
#include "runtime/console.h"
#include "runtime/hooks.h"
#include "runtime/platform.h"
#include "runtime/runtime.h"

namespace pel {
namespace {

// Screen table: index = screen number; width 0 marks an invalid screen.
struct ScreenRow {
  uint16_t width, height;
  uint8_t depth, repeat, pages;
  int8_t palette, font;
  uint8_t columns, rows;
};

constexpr ScreenRow invalidScreen = {0, 0, 0, 0, 1, -1, -1, 0, 0};
constexpr ScreenRow screenTable[22] = {
    invalidScreen,                               // 0: text mode
    {320, 200, 2, 1, 8, 1, 0, 40, 25},           // 1
    {640, 200, 1, 2, 1, 1, 0, 80, 25},           // 2
    invalidScreen, invalidScreen, invalidScreen, invalidScreen,
    {320, 200, 4, 1, 8, 1, 0, 40, 25},           // 7
    {640, 200, 4, 2, 4, 1, 0, 80, 25},           // 8
    {640, 350, 4, 1, 2, 2, 1, 80, 25},           // 9
    {640, 350, 1, 1, 2, 0, 1, 80, 25},           // 10
    {640, 480, 1, 1, 1, 0, 2, 80, 30},           // 11
    {640, 480, 4, 1, 1, 3, 2, 80, 30},           // 12
    {320, 200, 8, 1, 1, 3, 0, 40, 25},           // 13
    {320, 240, 8, 1, 1, 3, 0, 40, 30},           // 14
    {400, 300, 8, 1, 1, 3, 0, 50, 37},           // 15
    {512, 384, 8, 1, 1, 3, 2, 64, 24},           // 16
    {640, 400, 8, 1, 1, 3, 2, 80, 25},           // 17
    {640, 480, 8, 1, 1, 3, 2, 80, 30},           // 18
    {800, 600, 8, 1, 1, 3, 2, 100, 37},          // 19
    {1024, 768, 8, 1, 1, 3, 2, 128, 48},         // 20
    {1280, 1024, 8, 1, 1, 3, 2, 160, 64},        // 21
};

// Page memory of one mode at the most; beyond it a mode set is refused
// rather than left to exhaust the machine while its pages are cleared.
constexpr uint64_t maxPageMemory = uint64_t{1} << 31;

ScreenMode* openMode = nullptr;
uint32_t nextModeId = 1;
bool exitRoutineRegistered = false;
uint32_t* scratchTable = nullptr;
uint8_t selectedHeader[sizeof(ImageHeader)] = {};  // the image target's header when selected

bool equalsIgnoringCase(const char* a, const char* b) {
  for (; *a && *b; ++a, ++b) {
    if (std::tolower(static_cast<unsigned char>(*a)) != std::tolower(static_cast<unsigned char>(*b))) return false;
  }
  return *a == *b;
}

void installHooks() {
  HookSlots& h = hooks();
  h = {};
  h.readKey = readKeyHook;
  h.waitKey = waitKeyHook;
  h.keyWaiting = keyWaitingHook;
  h.keyHeld = keyHeldHook;
  h.getMouse = getMouseHook;
  h.setMouse = setMouseHook;
  h.portIn = portInHook;
  h.portOut = portOutHook;
  h.sleep = sleepHook;
  h.clear = clearHook;
  h.color = colorHook;
  h.cursor = cursorHook;
  h.textSize = textSizeHook;
  h.getX = getXHook;
  h.getY = getYHook;
  h.getXY = getXYHook;
  h.getSize = getSizeHook;
  h.print = printHook;
  h.printWide = printWideHook;
  h.readString = readStringHook;
  h.readLine = readLineHook;
  h.readLineWide = readLineWideHook;
  h.readCell = readCellHook;
  h.viewUpdate = [] {};
  h.query = [] { return int32_t{0}; };
  h.copyPage = copyPage;
  h.setPages = setPages;
}

void freeMode(ScreenMode* mode) {
  if (mode->textPages) {
    for (uint32_t i = 0; i < mode->pageCount; ++i) std::free(mode->textPages[i]);
    std::free(mode->textPages);
  }
  if (mode->pages) {
    for (uint32_t i = 0; i < mode->pageCount; ++i) freeAligned(mode->pages[i]);
    std::free(mode->pages);
  }
  std::free(mode->palette);
  std::free(mode->deviceColors);
  std::free(mode->colorMap);
  std::free(mode->dirty);
  std::free(mode->keyState);
  std::free(mode->eventQueue);
  destroyEventLock(mode->eventLock);
  std::free(mode);
}

// Step 2: the old driver's exit, every buffer, the record, the scratch table.
void tearDown() {
  if (ScreenMode* mode = openMode) {
    if (mode->driver && mode->driver->exit) mode->driver->exit();
    openMode = nullptr;
    freeMode(mode);
    // A program waiting for input on another thread sees the mode gone.
    noteInput();
  }
  std::free(scratchTable);
  scratchTable = nullptr;
}

bool allocateBuffers(ScreenMode* m, uint64_t pageBytes) {
  m->pages = static_cast<uint8_t**>(allocateZeroed(m->pageCount, sizeof(uint8_t*)));
  if (!m->pages) return false;
  for (uint32_t i = 0; i < m->pageCount; ++i) {
    if (!(m->pages[i] = static_cast<uint8_t*>(allocateAligned(static_cast<std::size_t>(pageBytes))))) return false;
    // Defined from the start: a back end's window thread may present a page
    // before mode setting has cleared it, and the rows' padding is never drawn.
    std::memset(m->pages[i], 0, static_cast<std::size_t>(pageBytes));
  }
  m->visibleBuffer = m->pages[0];
  const auto dirtyRows = static_cast<std::size_t>(m->height) * static_cast<std::size_t>(m->scanlineRepeat);
  m->dirty = static_cast<uint8_t*>(allocateZeroed(dirtyRows, 1));
  m->palette = static_cast<uint32_t*>(allocateZeroed(256, sizeof(uint32_t)));
  m->deviceColors = static_cast<uint32_t*>(allocateZeroed(256, sizeof(uint32_t)));
  m->colorMap = static_cast<uint8_t*>(allocateZeroed(16, 1));
  m->keyState = static_cast<uint8_t*>(allocateZeroed(128, 1));
  m->eventQueue = static_cast<WindowEvent*>(allocate(eventQueueSlots * sizeof(WindowEvent)));
  m->eventLock = createEventLock();
  scratchTable = static_cast<uint32_t*>(allocate(2048));
  return m->dirty && m->palette && m->deviceColors && m->colorMap && m->keyState && m->eventQueue &&
         m->eventLock && scratchTable;
}

bool allocateTextPages(ScreenMode* m) {
  m->textPages = static_cast<uint8_t**>(allocateZeroed(m->pageCount, sizeof(uint8_t*)));
  if (!m->textPages) return false;
  const auto cells = static_cast<std::size_t>(m->textColumns) * static_cast<std::size_t>(m->textRows);
  for (uint32_t i = 0; i < m->pageCount; ++i) {
    if (!(m->textPages[i] = static_cast<uint8_t*>(allocateZeroed(cells, sizeof(TextCell))))) return false;
  }
  return true;
}

void setDefaultTitle() {
  if (windowTitle()) return;
  char path[128];
  platform::modulePath(path, sizeof path);
  const char* name = path;
  for (const char* p = path; *p; ++p) {
    if (*p == '\\' || *p == '/') name = p + 1;
  }
  const char* dot = std::strrchr(name, '.');
  setTitle(std::string_view(name, dot ? static_cast<std::size_t>(dot - name) : std::strlen(name)));
}

std::string failureText;

// Adds "name: reason" for a back end that refused, once per distinct pair.
void noteRefusal(const char* name, const char* reason) {
  std::string entry = std::string(name ? name : "?") + ": " + (reason ? reason : "refused");
  if (failureText.find(entry) != std::string::npos) return;
  if (!failureText.empty()) failureText += "; ";
  failureText += entry;
}

// Tries one back end twice (asked refresh rate, then 0); exit after a failure.
bool tryBackend(const DisplayDriver* d, const ScreenMode* m, int32_t refreshRate, int32_t flags) {
  for (int32_t rate : {refreshRate, 0}) {
    takeRefusalReason();
    if (d->init && d->init(windowTitle(), m->width, m->height * m->scanlineRepeat, m->depth, rate, flags) == 0) {
      return true;
    }
    const char* reason = takeRefusalReason();
    if (d->exit) d->exit();
    noteRefusal(d->name, reason);
  }
  return false;
}

const DisplayDriver* chooseBackend(const ScreenMode* m, int32_t refreshRate, int32_t flags) {
  const char* name = std::getenv("KELGFX");
  if (flags == modeflag::nullBackend || (name && equalsIgnoringCase(name, "null"))) return &nullDriver;
  struct Pass {
    bool namedOnly;
    bool toggleFullScreen;
  };
  constexpr Pass unnamed[] = {{false, false}, {false, true}};
  constexpr Pass named[] = {{true, false}, {false, false}, {true, true}, {false, true}};
  const bool hasName = name != nullptr;
  const Pass* passes = hasName ? named : unnamed;
  bool anyNamed = false;
  for (const DisplayDriver* const* d = backendList(); hasName && *d; ++d) anyNamed |= equalsIgnoringCase((*d)->name, name);
  if (hasName && !anyNamed) noteRefusal("KELGFX", "names no back end here; the others were tried");
  const int passCount = hasName ? 4 : 2;
  for (int p = 0; p < passCount; ++p) {
    const int32_t passFlags = passes[p].toggleFullScreen ? flags ^ modeflag::fullScreen : flags;
    for (const DisplayDriver* const* d = backendList(); *d; ++d) {
      if (passes[p].namedOnly && !equalsIgnoringCase((*d)->name, name)) continue;
      if (tryBackend(*d, m, refreshRate, passFlags)) return *d;
    }
  }
  return nullptr;
}

int32_t closeAndFail() {
  tearDown();
  failureText = "out of memory";
  hooks() = {};
  return setLastError(1);
}

}  // namespace

ScreenMode* currentMode() { return openMode; }
const char* modeSetFailure() { return failureText.c_str(); }
uint32_t* blitterScratch() { return scratchTable; }

int32_t setMode(int32_t screen, int32_t width, int32_t height, int32_t depth, int32_t scanlineRepeat,
                int32_t pages, int32_t refreshRate, int32_t paletteIndex, int32_t fontIndex, int32_t flags,
                float aspect, int32_t textColumns, int32_t textRows) {
  if (flags >= 0 && (flags & modeflag::shaped)) flags |= 0x1C;
  failureText.clear();

  if (screen == 0 || width == 0) {
    tearDown();
    hooks() = {};
    if (flags != modeflag::atExit) consoleReset80x25();
    resetConsoleViewLimits();
  } else {
    // Sizes the buffers cannot hold are refused before anything changes, so
    // the open mode (and the console's grid over it) stays usable.
    const int32_t bytesPerPixel = (depth == 15 || depth == 16) ? 2 : (depth == 24 || depth == 32) ? 4 : (depth + 7) / 8;
    const uint64_t pitch = static_cast<uint64_t>(width) * static_cast<uint64_t>(bytesPerPixel);
    const uint64_t pageBytes = pitch * static_cast<uint64_t>(height);
    const uint32_t pageCount = static_cast<uint32_t>(pages < 1 ? 1 : pages);
    if (width < 0 || height <= 0 || depth < 1 || depth > 32 || scanlineRepeat < 1 || pitch > INT32_MAX ||
        pageBytes > maxPageMemory || pageCount > maxPageMemory / pageBytes ||
        static_cast<uint64_t>(height) * scanlineRepeat > INT32_MAX || textColumns < 0 || textRows < 0) {
      failureText = "the size cannot be held: pages too large, or a depth, width or height out of range";
      return setLastError(1);
    }
    tearDown();
    installHooks();

    auto* m = static_cast<ScreenMode*>(allocateZeroed(1, sizeof(ScreenMode)));
    if (!m) return closeAndFail();
    openMode = m;
    m->id = nextModeId++;
    m->modeNumber = screen;
    m->width = width;
    m->height = height;
    m->depth = depth;
    m->scanlineRepeat = scanlineRepeat;
    m->aspect = aspect == 0.0f ? static_cast<float>(static_cast<double>(height) / width * 1.3333333333333333)
                               : aspect;
    if (depth == 15 || depth == 16) {
      m->depth = 16;
      m->colorMask = 0xFFFF;
    } else if (depth == 24 || depth == 32) {
      m->depth = 32;
      m->colorMask = 0xFFFFFFFF;
    } else {
      m->colorMask = (1u << depth) - 1;
    }
    m->bytesPerPixel = bytesPerPixel;
    m->pitch = static_cast<int32_t>(pitch);
    m->pageCount = pageCount;
    if (!allocateBuffers(m, pageBytes)) return closeAndFail();

    if (flags != modeflag::nullBackend) {
      if (flags & modeflag::alphaPrimitives) m->flags |= screenflag::alphaPrimitives;
      if (flags & modeflag::openGl) m->flags |= screenflag::openGl;
      if (flags & modeflag::highPriority) m->flags |= screenflag::highPriority;
    }
    selectPixelRoutines(m->bytesPerPixel);
    if (!unpackBuiltinData()) return closeAndFail();
    m->defaultPalette = builtinPalette(paletteIndex);
    m->font = builtinFont(fontIndex);
    setDefaultTitle();

    const DisplayDriver* driver = chooseBackend(m, refreshRate, flags);
    if (!driver) {
      std::string why = failureText.empty() ? "no back end is built in" : failureText;
      closeScreen();
      failureText = std::move(why);
      return setLastError(1);
    }
    m->driver = driver;
    failureText.clear();
    paletteSet(-1, 0, 0, 0);
    m->textColumns = textColumns;
    m->textRows = textRows;

    // The back end's window thread may already be presenting: the pages are
    // cleared under the lock.
    lockScreen();
    DrawContext* context = getContext();
    const bool built = context && context->rows && allocateTextPages(m);
    if (built) {
      fillCells(0, 0, m->textColumns, m->textRows, 0, 32, context->foreground, context->background);
      for (uint32_t page = 0; page < m->pageCount; ++page) {
        for (int32_t y = 0; y < m->height; ++y) context->fillSpan(m->pages[page] + y * pitch, context->background, m->width);
      }
    }
    unlockScreen(1, 0);
    if (!built) return closeAndFail();
    consoleRefreshSize();
    if (!exitRoutineRegistered) {
      setExitRoutine(closeScreen);
      // A program that returns from main with a screen open closes it too,
      // before the back end's statics (a window thread) are destroyed.
      std::atexit(closeScreen);
      exitRoutineRegistered = true;
    }
  }

  if (flags != modeflag::atExit) consoleSetView(-1, -1);
  return setLastError(0);
}

int32_t openScreenBySize(int32_t width, int32_t height, int32_t depth, int32_t pages, int32_t flags,
                         int32_t refreshRate) {
  constexpr int32_t depths[] = {1, 2, 4, 8, 15, 16, 24, 32};
  const bool validDepth = std::find(std::begin(depths), std::end(depths), depth) != std::end(depths);
  if (width <= 0 || height <= 0 || !validDepth) {
    failureText = validDepth ? "the size cannot be held: width and height must be at least 1"
                             : "the size cannot be held: depth not offered (1, 2, 4, 8, 15, 16, 24 or 32)";
    return setLastError(1);
  }
  const int32_t result =
      setMode(-1, width, height, depth, 1, pages <= 0 ? 1 : pages, refreshRate, 3, 0, flags, 1.0f, width / 8, height / 8);
  if (result == 0) setConsoleTextRow(0);
  return result;
}

bool numberedScreenTakesDepth(int32_t screen, int32_t depth) {
  if (screen < 1 || screen > 21 || screenTable[screen].width == 0) return false;
  if (depth == 0 || depth == screenTable[screen].depth) return true;
  return screen > 13 && (depth == 8 || depth == 15 || depth == 16 || depth == 24 || depth == 32);
}

int32_t openScreenByNumber(int32_t screen, int32_t depth, int32_t pages, int32_t flags, int32_t refreshRate) {
  if (screen < 0 || screen > 21 || (screen != 0 && screenTable[screen].width == 0)) {
    failureText = "no such numbered screen";
    return setLastError(1);
  }
  const ScreenRow& row = screenTable[screen];
  const bool askedDepth = screen > 13 && (depth == 8 || depth == 15 || depth == 16 || depth == 24 || depth == 32);
  const int32_t result = setMode(screen, row.width, row.height, askedDepth ? depth : row.depth, row.repeat,
                                 pages <= 0 ? row.pages : pages, refreshRate, row.palette, row.font, flags, 0.0f,
                                 row.columns, row.rows);
  if (result == 0) setConsoleTextRow(0);
  return result;
}

int32_t openScreenWithPages(int32_t screen, int32_t workPage, int32_t visiblePage) {
  const int32_t result = openScreenByNumber(screen, 0, 0, 0, 0);
  if (result != 0) return result;
  if (workPage < 0 && visiblePage < 0) return 0;
  return setLastError(pageSet(workPage, visiblePage));
}

void closeScreen() {
  if (openMode) setMode(0, 0, 0, 0, 0, 1, 0, 0, 0, modeflag::atExit, 0.0f, 0, 0);
}

DrawContext* getContext() {
  auto* c = static_cast<DrawContext*>(contextRecord(ContextSlot::Draw, sizeof(DrawContext)));
  const ScreenMode* m = openMode;
  if (!c || !m || c->modeId == m->id) return c;
  std::free(c->rows);
  *c = DrawContext{};
  c->modeId = m->id;
  c->screenViewWidth = m->width;
  c->screenViewHeight = m->height;
  c->rows = static_cast<uint8_t**>(allocateZeroed(static_cast<std::size_t>(m->height), sizeof(uint8_t*)));
  c->rowCapacity = c->rows ? m->height : 0;
  c->foreground = (m->depth >= 5 && m->depth <= 8) ? 15 : m->colorMask;
  c->background = m->colorMask & 0xFF000000u;
  c->flags = contextflag::rebuildScreen;
  if (c->rows) resetScreenTarget(c);
  return c;
}

bool selectTarget(DrawContext* c, const void* image) {
  const ScreenMode* m = openMode;
  if (!m) return false;
  if (image) {
    const auto* bytes = static_cast<const uint8_t*>(image);
    int32_t tag;
    std::memcpy(&tag, bytes, sizeof tag);
    // The same address is the same image only with the same header: a freed
    // image's memory may come back holding another.
    const std::size_t headerBytes = tag == longImageTag ? sizeof(ImageHeader) : 4;
    if (image == c->target && std::memcmp(selectedHeader, bytes, headerBytes) == 0) return true;
    int32_t bytesPerPixel, width, height, pitch;
    const uint8_t* pixels;
    if (tag == longImageTag) {
      ImageHeader header;
      std::memcpy(&header, bytes, sizeof header);
      bytesPerPixel = header.bytesPerPixel;
      width = header.width;
      height = header.height;
      pitch = header.pitch;
      pixels = bytes + sizeof(ImageHeader);
    } else {
      width = (bytes[0] >> 3) | (bytes[1] << 5);
      height = bytes[2] | (bytes[3] << 8);
      bytesPerPixel = m->bytesPerPixel;
      pitch = width * bytesPerPixel;
      pixels = bytes + 4;
    }
    const bool knownSize = bytesPerPixel == 1 || bytesPerPixel == 2 || bytesPerPixel == 4;
    if (!knownSize || width <= 0 || height <= 0 || pitch < width * static_cast<int64_t>(bytesPerPixel)) return false;
    if (height > c->rowCapacity) {
      auto* grown = static_cast<uint8_t**>(std::realloc(c->rows, static_cast<std::size_t>(height) * sizeof(uint8_t*)));
      if (!grown) return false;
      c->rows = grown;
      c->rowCapacity = height;
    }
    if (c->target == nullptr) {
      c->screenViewX = c->viewX;
      c->screenViewY = c->viewY;
      c->screenViewWidth = c->viewWidth;
      c->screenViewHeight = c->viewHeight;
    }
    c->viewX = c->viewY = 0;
    c->viewWidth = width;
    c->viewHeight = height;
    c->targetBytesPerPixel = bytesPerPixel;
    c->targetPitch = pitch;
    for (int32_t y = 0; y < height; ++y) c->rows[y] = const_cast<uint8_t*>(pixels) + static_cast<std::size_t>(y) * pitch;
    // Also for the short form: routines chosen for another image's pixel
    // size would write past this one's rows.
    selectPixelRoutines(bytesPerPixel);
    c->flags |= contextflag::imageTarget;
    std::memcpy(selectedHeader, bytes, headerBytes);
  } else if (c->flags & (contextflag::rebuildScreen | contextflag::imageTarget)) {
    c->viewX = c->screenViewX;
    c->viewY = c->screenViewY;
    c->viewWidth = c->screenViewWidth;
    c->viewHeight = c->screenViewHeight;
    c->targetBytesPerPixel = m->bytesPerPixel;
    c->targetPitch = m->pitch;
    uint8_t* base = m->pages[c->workPage];
    for (int32_t y = 0; y < m->height; ++y) c->rows[y] = base + static_cast<std::size_t>(y) * m->pitch;
    selectPixelRoutines(m->bytesPerPixel);
    c->flags &= ~(contextflag::rebuildScreen | contextflag::imageTarget);
  }
  c->target = image;
  return true;
}

void resetScreenTarget(DrawContext* context) {
  selectTarget(context, nullptr);
  chooseDrawRoutines(context, 0xFF000000u);
}

}  // namespace pel
