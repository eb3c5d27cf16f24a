// Pellucet: a small pixel runtime. Open a screen, draw on its work page,
// flip, and read keys, the mouse and window events.
//
//   #include <pellucet/pellucet.h>
//   int main() {
//     if (!pellucet::openScreen(640, 480)) return std::puts(pellucet::lastFailure()), 1;
//     pellucet::fillBox(10, 10, 100, 60, 0xFF2080FF);
//     pellucet::text(10, 70, "Hello", 0xFFFFFFFF);
//     pellucet::flip();
//     pellucet::Event e;
//     while (pellucet::waitEvent(e) && e.type != pellucet::EventType::KeyPress && e.type != pellucet::EventType::Close) {
//     }
//   }
//
// Colours are 0xAARRGGBB in 16- and 32-bit screens (the top byte is the
// opacity where the screen has alpha primitives, else unused) and palette
// indices in screens of 8 bits and fewer. Coordinates are pixels of the page,
// (0, 0) top left. Every call is a thin layer over the runtime's own
// operations: what they draw and report is theirs, unchanged.
//
// Needs C++17 or later (-std=c++17); the CMake target asks for it itself.
#pragma once

#if (defined(_MSVC_LANG) ? _MSVC_LANG : __cplusplus) < 201703L
#error "pellucet.h needs C++17 or later: compile with -std=c++17 (or /std:c++17)"
#endif

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

namespace pellucet {

// ---- Screens ---------------------------------------------------------------

// Flags of openScreen, combined with |.
enum ScreenFlags : uint32_t {
  windowed = 0,
  fullScreen = 0x01,       // a display mode of the screen's size (scaled to the monitor on X11)
  openGl = 0x02,           // an OpenGL context instead of a framebuffer (see glEntryPoints in the runtime)
  noSwitching = 0x04,      // Alt+Enter and maximising do not switch to and from full screen
  noFrame = 0x08,          // a window without a frame
  shaped = 0x10,           // see-through where pixels hold the colour key (magenta, or index 0)
  alwaysOnTop = 0x20,      // above other windows
  alphaPrimitives = 0x40,  // lines, boxes and text blend with the colour's top byte
  highPriority = 0x80,     // the window thread at a higher priority, where the system allows it
  // Windows that fit the screen (see zoom below): the window is the screen
  // scaled, nearest neighbour; the pointer still reports screen pixels.
  zoomToFit = 0x0F00,  // the largest whole zoom, up to 8, that fits the monitor's work area
  resizable = 0x1000,  // the user may resize and maximise the window; the picture keeps its
                       // shape in the middle, with black bars (without a zoom: the desktop's scale)
};
// A window zoom of 1 to 8, combined with the flags: a 320 x 200 screen at
// zoom(3) opens a 960 x 600 window. Other numbers are refused at open.
constexpr uint32_t zoom(int n) { return n >= 1 && n <= 8 ? static_cast<uint32_t>(n) << 8 : 0x0E00; }

// Opens a screen of width x height pixels, depth 8, 15, 16, 24 or 32 bits
// (fewer bits: 1, 2 or 4) with `pages` pages (at least 1; fewer is refused). The back end is
// the first of the platform's that accepts the flags; the environment
// variable KELGFX names one to try first ("null" shows nothing). A request
// refused for its size (depth, zero or huge sizes, pages memory cannot hold)
// leaves the open screen as it was; otherwise the open screen closes before
// the back ends are asked, so one that every back end refuses (such as an X
// window over 32767 pixels) leaves no screen open. False on failure, and
// lastFailure() says why. Zoomed and resizable windows come from every back
// end; shaped windows are shown at their own size, and a full-screen one
// whose display mode cannot be set covers the monitor with the picture
// scaled.
bool openScreen(int width, int height, int depth = 32, int pages = 2, uint32_t flags = windowed,
                int refreshRate = 0);
// A numbered screen of the classic list (1-21, e.g. 13 is 320 x 200 x 8);
// other numbers are refused (closeScreen() returns to text). Depth 0 takes
// the screen's own; screens 14-21 also open at 8, 15, 16, 24 or 32 bits, and
// any other depth is refused. Pages 0 takes the screen's own number.
bool openNumberedScreen(int number, int depth = 0, int pages = 0, uint32_t flags = windowed, int refreshRate = 0);
void closeScreen();
bool screenOpen();

// The screen actually opened.
struct ScreenInfo {
  int width = 0, height = 0;
  int depth = 0;         // 8 and fewer, 16 or 32 (15 opens as 16, 24 as 32)
  int bytesPerPixel = 0;
  int pitch = 0;         // bytes from one row to the next
  int pages = 0;
  int refreshRate = 0;   // 0 when the back end does not know it
  const char* backend = "";  // "X11", "OpenGL", "GDI", "DirectX", "Direct2D" or "Null"
  int zoom = 0;              // the zoom the window opened with (1 unscaled; 0 with no window)
};
ScreenInfo screenInfo();  // all zero and "" with no screen open

// Why the last openScreen or openNumberedScreen failed, in words: the size
// refused, or each back end tried and its reason ("X11: no X display (is
// DISPLAY set?); OpenGL: only for modes with the OpenGL flag"); empty after
// a success. Image calls that fail leave their reason here too.
const char* lastFailure();

// ---- Pages -----------------------------------------------------------------

// Shows the work page: copies it to the visible page (one page: marks it
// all for presenting). Call once a frame after drawing.
void flip();
// Chooses the page drawn on and the page shown (each 0 .. pages - 1; -1
// keeps one). False, changing nothing, with no screen open or a page out of
// range.
bool setPages(int workPage, int visiblePage);
// Waits for the display's next vertical retrace (or, where the back end
// cannot tell, until about a frame after the last call).
void waitVsync();
// Sets the window's title.
void setTitle(std::string_view title);

// ---- Drawing on the work page ----------------------------------------------

void line(float x1, float y1, float x2, float y2, uint32_t colour);
void box(float x1, float y1, float x2, float y2, uint32_t colour);      // outline, both corners included
void fillBox(float x1, float y1, float x2, float y2, uint32_t colour);  // filled, both corners included
void clear(uint32_t colour);                                           // the whole work page
// Text, its top-left corner at (x, y), in UTF-8: every character code page
// 437 has (é, ü, ß, ░▒▓, box drawing ...) is drawn with its glyph, others as
// '?'; bytes that are no UTF-8 are taken as code page 437 bytes as they are.
// "\n" starts a new line one font height down, at x. With a background
// colour, each line's cells are filled with it first.
void text(float x, float y, std::string_view utf8, uint32_t colour);
void text(float x, float y, std::string_view utf8, uint32_t colour, uint32_t background);
// The built-in font text() draws in: 8 x 8, 8 x 14 or 8 x 16 pixels a
// character, or the screen's own (the default).
enum class Font : int { screen = 0, font8x8 = 8, font8x14 = 14, font8x16 = 16 };
void textFont(Font font);
// The size text() would cover, in pixels: the longest line's width and the
// lines' height (zero with the screen's font and no screen).
struct TextSize {
  int width = 0, height = 0;
};
TextSize measureText(std::string_view utf8);

// A font loaded from a file or from memory, for text in any script:
// - PSF (versions 1 and 2, with or without their Unicode tables; a table-less
//   PSF of 256 glyphs is taken as code page 437) and BDF bitmap fonts, read
//   by the library itself: every field is checked and a damaged file is
//   refused with the reason;
// - TrueType and OpenType outline fonts at `pixelSize` pixels (the em), where
//   the build has an outline renderer (Font::outlines() says): their glyphs'
//   coverage is blended into 16- and 32-bit targets and thresholded at half
//   in 8-bit ones, and kerning is applied. Bitmap fonts ignore pixelSize.
// text() and measureText() draw in the font chosen with textFont(); a
// character the font lacks is drawn from the built-in font in use (the
// screen's, or 8 x 16 with none open), and one neither has as the font's '?'.
// Copies share the font; it lives while one of them does.
struct LoadedFontData;
class LoadedFont {
 public:
  LoadedFont() = default;  // empty
  explicit operator bool() const { return data_ != nullptr; }
  int height() const;                  // one line's height in pixels; 0 when empty
  bool covers(char32_t code) const;    // whether the font has a glyph for it
  static bool outlines();              // whether TrueType and OpenType fonts load in this build

 private:
  std::shared_ptr<const LoadedFontData> data_;
  friend struct LoadedFontAccess;
};
// An empty font, with the reason in lastFailure(), for a file that cannot be
// read, is damaged or is of no format above, or a pixelSize outside 1..1024.
LoadedFont loadFont(const char* path, int pixelSize = 16);
LoadedFont loadFont(const void* data, std::size_t size, int pixelSize = 16);
// Bytes held as characters (a std::string's data()), which would otherwise
// be taken for a path.
inline LoadedFont loadFont(const char* data, std::size_t size, int pixelSize = 16) {
  return loadFont(static_cast<const void*>(data), size, pixelSize);
}
// text() and measureText() draw in this font from now on (an empty one
// chooses the screen's); textFont(Font) goes back to a built-in one.
void textFont(const LoadedFont& font);

// The work page's pixels, for drawing directly. Between lockPixels and
// unlockPixels the back end does not present; unlockPixels marks every row
// to be presented (or rows first..last).
struct Pixels {
  uint8_t* data = nullptr;  // row 0; row y at data + y * pitch
  int width = 0, height = 0, pitch = 0, bytesPerPixel = 0;
};
Pixels lockPixels();
void unlockPixels();
void unlockPixels(int firstRow, int lastRow);

// Palette entry `index` (0-255) of an 8-bit (or fewer) screen as red, green
// and blue bytes; the screen is repainted with it. No effect above 8 bits.
void setPalette(int index, uint8_t red, uint8_t green, uint8_t blue);
// Back to the screen's default palette.
void resetPalette();

// ---- Images ----------------------------------------------------------------

// Pixels the program owns, W x H at 8 (palette indices), 16 (RGB565) or 32
// bits (0xAARRGGBB). Images live apart from screens: one made before a
// screen opens, or kept across openScreen calls, stays as it is. Drawing into
// one and putting one need an open screen (the screen's drawing routines do
// the work).
class Image {
 public:
  Image() = default;  // empty
  // A cleared image; depth 0 takes the screen's (32 with none open). Empty,
  // with the reason in lastFailure(), for sizes or depths it cannot hold.
  Image(int width, int height, int depth = 0);
  ~Image();
  Image(Image&& other) noexcept;
  Image& operator=(Image&& other) noexcept;
  Image(const Image&) = delete;
  Image& operator=(const Image&) = delete;

  explicit operator bool() const { return block_ != nullptr; }
  int width() const;
  int height() const;
  int depth() const;  // 8, 16 or 32; 0 when empty
  int bytesPerPixel() const;
  int pitch() const;  // bytes from one row to the next
  uint8_t* pixels();  // row y at pixels() + y * pitch(); null when empty
  const uint8_t* pixels() const;
  uint32_t pixel(int x, int y) const;            // 0 outside the image
  void setPixel(int x, int y, uint32_t colour);  // nothing outside the image

 private:
  uint8_t* block_ = nullptr;  // the runtime's image header, then the pixels
  friend struct ImageAccess;
};

// Every image, made or loaded, is 1 to 32767 pixels a side and at most
// 16384 x 16384 pixels in all (2^28), so whatever is saved loads back.
//
// loadImage reads, into a 32-bit image:
// - PNG: every colour type and bit depth, interlaced or not; 16-bit channels
//   become round(v / 257); a gAMA chunk is honoured (none means sRGB, so
//   nothing is converted); transparency (tRNS) becomes alpha.
// - JPEG: baseline and progressive, grey, YCbCr or RGB, opaque, turned
//   upright by its EXIF orientation (orientations 5 to 8 swap width and
//   height); CMYK files are refused, and so are files with damaged data.
// - BMP: 1, 4, 8, 16, 24 and 32 bits a pixel, uncompressed, RLE8 or RLE4, with
//   bit masks (16, 24 and 32 bits; narrower channels widened by repeating
//   their bits); OS/2 and Windows headers; rows bottom-up or top-down. A
//   32-bit file whose fourth bytes are all 0 is opaque.
// In both PNG and BMP a palette index past the palette is opaque black. Files
// that are damaged (a failed CRC, data cut short, an RLE run past the
// picture, headers that contradict themselves) are refused, as are paths
// that are no regular file (a device, a FIFO). On Linux PNG and JPEG come
// from libpng and libjpeg; on Windows from the system's Imaging Component
// (windowscodecs.dll). An empty image, with the reason in lastFailure(),
// on any failure.
Image loadImage(const char* path);
Image loadImage(const void* data, std::size_t size);
// Saves as PNG (8-bit RGB, or RGBA where a pixel is not opaque) or as BMP
// (24-bit, no alpha). 8-bit images save the colours of the screen's
// palette (the default 256-colour one with no screen open); 16-bit ones
// widen each RGB565 channel by repeating its top bits, so white stays white.
// The file is written beside the target and renamed over it: on any failure
// (a full disk, no permission) what was there is left untouched. False, with
// the reason and the path in lastFailure().
bool savePng(const Image& image, const char* path);
bool saveBmp(const Image& image, const char* path);

// Drawing into an image, as on the screen.
void line(Image& target, float x1, float y1, float x2, float y2, uint32_t colour);
void box(Image& target, float x1, float y1, float x2, float y2, uint32_t colour);
void fillBox(Image& target, float x1, float y1, float x2, float y2, uint32_t colour);
void clear(Image& target, uint32_t colour);
void text(Image& target, float x, float y, std::string_view utf8, uint32_t colour);

// A part of an image: width or height -1 reaches the image's edge.
struct Rect {
  int x = 0, y = 0, width = -1, height = -1;
};
// How put() writes: every pixel; all but those equal to the key (compared in
// the source's format); or each blended by its alpha (0xAARRGGBB sources,
// the runtime's blend rule: c = (d * (256 - a) + s * a) >> 8 a channel, the
// result's alpha the source's). Alpha needs 32-bit source and target.
enum class PutMode { solid, colourKey, alpha };
// Puts `part` of `source` with its top-left corner at (x, y) on the work page,
// or into `target`, clipped to it. Depths are converted by the runtime's rules
// (32 to 16 bits by truncation to RGB565, 16 to 32 by widening each channel,
// 32 to 8 by the low byte, 8 to more through the screen's palette). An
// image put onto itself reads as it was before the put. False, with the
// reason in lastFailure(), when the put cannot be made (no screen, empty
// images, alpha at other depths); a put that lands wholly outside is made
// and writes nothing (true).
bool put(const Image& source, int x, int y, PutMode mode = PutMode::solid, uint32_t key = 0, Rect part = {});
bool put(Image& target, const Image& source, int x, int y, PutMode mode = PutMode::solid, uint32_t key = 0,
         Rect part = {});

// A copy of a rectangle of the work page (clipped to it), at the screen's
// depth. From a 32-bit screen without alphaPrimitives, whose top byte means
// nothing, the copy is opaque.
Image grab(int x, int y, int width, int height);
// The visible page as a file: BMP for a path ending in ".bmp", else PNG.
bool saveScreenshot(const char* path);

// ---- Keys and the mouse ----------------------------------------------------

// Whether the key of this scan code (the PC keyboard's set 1: 0x01 Escape,
// 0x1C Enter, 0x39 Space, 0x48 Up, ...) is held now.
bool keyDown(int scanCode);
// The oldest key in the key ring: a character (1-255, code page 437: 130 is
// é), or 0xNN | 0xFF00 with NN the scan code for keys without one (arrows,
// F1-F12), or 0 when the ring is empty; waitKey waits for one. Closing the
// window puts closeKey there. With no screen open, keys come from the
// terminal; standard input that is no terminal gives its bytes, and waitKey
// returns 0 at its end.
constexpr int closeKey = 0x6BFF;
int takeKey();
int waitKey();

struct Mouse {
  int x = -1, y = -1;  // page pixels; -1 with no mouse data
  int wheel = 0;       // the wheel's count of steps
  int buttons = 0;     // 1 left, 2 right, 4 middle, 8 and 16 extra buttons
};
Mouse mouse();
void setMouse(int x, int y);
void showCursor(bool shown);

// Scan codes (the PC keyboard's set 1), as keyDown and Event::scanCode give
// them: the key's place on the keyboard, whatever Shift or the layout makes
// it type (Shift+1 is digit1). The right-hand Ctrl and Alt share the
// left-hand ones' codes; the arrows and the block above them share theirs
// with the keypad's digits. A key with no set-1 code (one a PC keyboard
// lacks, a character a virtual keyboard types) has a code of its own,
// 0x100 plus the platform's number for the key (the X key code, the Windows
// virtual key), the same at its press and its release; keyDown does not
// know it.
namespace scan {
constexpr int escape = 0x01, digit1 = 0x02, digit2 = 0x03, digit3 = 0x04, digit4 = 0x05, digit5 = 0x06,
              digit6 = 0x07, digit7 = 0x08, digit8 = 0x09, digit9 = 0x0A, digit0 = 0x0B, minus = 0x0C,
              equals = 0x0D, backspace = 0x0E, tab = 0x0F;
constexpr int q = 0x10, w = 0x11, e = 0x12, r = 0x13, t = 0x14, y = 0x15, u = 0x16, i = 0x17, o = 0x18, p = 0x19,
              leftBracket = 0x1A, rightBracket = 0x1B, enter = 0x1C, control = 0x1D;
constexpr int a = 0x1E, s = 0x1F, d = 0x20, f = 0x21, g = 0x22, h = 0x23, j = 0x24, k = 0x25, l = 0x26,
              semicolon = 0x27, apostrophe = 0x28, grave = 0x29, leftShift = 0x2A, backslash = 0x2B;
constexpr int z = 0x2C, x = 0x2D, c = 0x2E, v = 0x2F, b = 0x30, n = 0x31, m = 0x32, comma = 0x33, period = 0x34,
              slash = 0x35, rightShift = 0x36, keypadMultiply = 0x37, alt = 0x38, space = 0x39, capsLock = 0x3A;
constexpr int f1 = 0x3B, f2 = 0x3C, f3 = 0x3D, f4 = 0x3E, f5 = 0x3F, f6 = 0x40, f7 = 0x41, f8 = 0x42, f9 = 0x43,
              f10 = 0x44, numLock = 0x45, scrollLock = 0x46, f11 = 0x57, f12 = 0x58;
constexpr int home = 0x47, up = 0x48, pageUp = 0x49, keypadMinus = 0x4A, left = 0x4B, keypad5 = 0x4C, right = 0x4D,
              keypadPlus = 0x4E, end = 0x4F, down = 0x50, pageDown = 0x51, insert = 0x52, deleteKey = 0x53;
constexpr int leftSystem = 0x5B, rightSystem = 0x5C, menu = 0x5D;
}  // namespace scan

// Key codes as takeKey and waitKey give them, for keys pressed alone:
// characters, and (scan code << 8) | 0xFF for keys without one.
namespace key {
constexpr int backspace = 8, tab = 9, enter = 13, escape = 27, space = 32;
constexpr int up = 0x48FF, down = 0x50FF, left = 0x4BFF, right = 0x4DFF, home = 0x47FF, end = 0x4FFF,
              pageUp = 0x49FF, pageDown = 0x51FF, insert = 0x52FF, deleteKey = 0x53FF;
constexpr int f1 = 0x3BFF, f2 = 0x3CFF, f3 = 0x3DFF, f4 = 0x3EFF, f5 = 0x3FFF, f6 = 0x40FF, f7 = 0x41FF,
              f8 = 0x42FF, f9 = 0x43FF, f10 = 0x44FF, f11 = 0x85FF, f12 = 0x86FF;
}  // namespace key

// A scan code in words ("Escape", "A", "Left Shift", "F11"), "" for none.
const char* scanName(int scanCode);
// A key code in words: named keys ("Enter", "Up", "F1", "Close") and other
// characters as themselves (one byte of code page 437); "" for none.
const char* keyName(int code);

// ---- Events ----------------------------------------------------------------

enum class EventType : int32_t {
  None = 0,
  KeyPress = 1,
  KeyRelease = 2,
  KeyRepeat = 3,
  MouseMove = 4,
  ButtonPress = 5,
  ButtonRelease = 6,
  // Not delivered: a second press within the double-click time is a
  // ButtonPress with clicks 2.
  DoubleClick [[deprecated("a double click is a ButtonPress with clicks == 2")]] = 7,
  Wheel = 8,
  MouseEnter = 9,
  MouseLeave = 10,
  FocusGained = 11,
  FocusLost = 12,
  Close = 13,  // the window's close button; the window stays open
  HorizontalWheel = 14,
  // Text the user typed, in Event::text: one or more characters, beside the
  // KeyPress of the key that typed them. Enter, Backspace, Tab, Escape and
  // Ctrl or Alt combinations are keys, not text.
  TextInput = 15,
  // The window's client area changed size (a resizable window resized, full
  // screen entered or left) or the picture moved in it: Event::width,
  // height and picture.
  Resize = 16,
};

// Modifier bits of an event.
// super is the Windows (logo) key; capsLock and numLock are set while those
// locks are on.
// Beside shift, control and alt, which key of the pair is held, where the
// platform tells the sides apart (Windows always; X11 and Wayland for keys
// pressed while the window had the keyboard).
enum Modifiers : uint32_t {
  shift = 0x01,
  control = 0x02,
  alt = 0x04,
  super = 0x08,
  capsLock = 0x10,
  numLock = 0x20,
  leftShift = 0x40,
  rightShift = 0x80,
  leftControl = 0x100,
  rightControl = 0x200,
  leftAlt = 0x400,
  rightAlt = 0x800,
};

// An event as it happened: the back end records the pointer's position and
// the modifier keys held at the moment of the key, button, wheel or move,
// not when the program takes the event from the queue.
struct Event {
  EventType type = EventType::None;
  // Keys: the scan code (see keyDown) and the character it typed in code
  // page 437, as takeKey gives it (0 for none, and for keys pressed with
  // Alt). Every key gives KeyPress, KeyRepeat while
  // held, and KeyRelease when let go, Alt combinations and Alt itself
  // included.
  int scanCode = 0;
  int character = 0;
  uint32_t modifiers = 0;  // the modifier keys held when it happened (a modifier key's own press counts it)
  // The pointer's position in page pixels when it happened (every event
  // type; outside the page it may be negative or past the size). MouseMove
  // also has the pointer's movement on the screen since the last move.
  int x = 0, y = 0;
  int dx = 0, dy = 0;
  int button = 0;  // ButtonPress, ButtonRelease: 1, 2, 4, 8 or 16
  // The mouse buttons held when it happened (every event type), as
  // Mouse::buttons has them: a ButtonPress's own button counts, a
  // ButtonRelease's does not.
  int buttons = 0;
  int clicks = 0;  // ButtonPress: 1, or 2 for the second press of a double click
  int wheel = 0;   // Wheel, HorizontalWheel: the wheel's new count
  int step = 0;    // Wheel, HorizontalWheel: +1 or -1, this event's step
  char text[32] = {};  // TextInput: UTF-8, ending in a NUL
  // Resize: the client area and the picture's place in it, in window pixels.
  int width = 0, height = 0;
  Rect picture;
};

// The window's client area and the picture's place in it, in window pixels,
// as the last Resize event told; with no window (the null back end) the
// screen's own size, and all 0 with no screen.
struct WindowSize {
  int width = 0, height = 0;
  Rect picture;
};
WindowSize windowSize();

// The oldest event, false when there is none (or no screen).
bool pollEvent(Event& event);
// Waits for an event; false when the screen closes or timeoutMs (>= 0)
// passes first. A negative timeout waits without limit.
bool waitEvent(Event& event, int timeoutMs = -1);

// ---- The text console (drawn on the screen in its built-in font) -----------

void print(std::string_view s);  // at the cursor; \n, \r, \t, \b as on a terminal
void locate(int row, int column);  // 1-based
// Foreground and background of printed text (colours as for drawing).
void textColour(uint32_t foreground, uint32_t background);
// Reads a line typed by the user (Enter ends it), at most size - 1 bytes;
// the bytes read, without the Enter.
std::string_view readLine(char* buffer, int size);

// ---- Random numbers --------------------------------------------------------

// The runtime's generators. Each seeds from the seed's integer part (its low
// 32 bits); values come out in [0, 1).
enum class RandomAlgorithm : int {
  cLibrary = 1,         // the C library's rand() after srand(seed)
  fast = 2,             // x = x * 1664525 + 1013904223 (mod 2^32), value x / 2^32
  mersenneTwister = 3,  // MT19937, its 624 words filled from the seed by the fast generator's step
                        // (word 0 the seed itself), value word / 2^32 (the default)
  compatible = 4,       // a 24-bit generator: x = (x * 16598013 + 12820163) mod 2^24, value x / 2^24
  withSystemEntropy = 5,  // MT19937 mixed with the system's cryptographic generator: not repeatable
};
// Seeds the generator of that algorithm; a seed of -1 seeds from the clock.
void seedRandom(double seed, RandomAlgorithm algorithm = RandomAlgorithm::mersenneTwister);
// The next value in [0, 1) (before any seed: MT19937 seeded with 0).
double nextRandom();
// A whole number from low to high, both included (low when high < low).
int randomBetween(int low, int high);

// ---- Time ------------------------------------------------------------------

double seconds();  // a steady clock in seconds
// Sleeps ms milliseconds; a sleep of 100 ms or more ends early when a key
// arrives (true then).
bool sleepMs(int ms);

}  // namespace pellucet
