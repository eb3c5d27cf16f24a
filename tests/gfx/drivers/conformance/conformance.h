// One behaviour suite over every back end: each scenario is written once and
// run against each back end of the build through a small adapter that
// starts the platform (a private X server, compositor or Wine's desktop),
// reads back what reached the screen, and sends input through the
// platform's own paths.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pel {
struct ScreenMode;
}

namespace pel::conformance {

// Modifiers held around a key.
enum : uint32_t { plain = 0, shift = 1, ctrl = 2, alt = 4 };

// A key by its X keysym name ("a", "1", "F1", "Left", "Return", "space"),
// typed with modifiers held around it.
struct Key {
  const char* name;
  uint32_t modifiers;
};

struct Backend {
  const char* name;    // how the test names end ("X11", "OpenGL-GLX", "GDI")
  const char* driver;  // the runtime's name for it, as KELGFX takes it
  uint32_t flags;      // screen flags it needs (OpenGL back ends: openGl)
  // Starts the platform for one test: "" when ready, or why the back end
  // cannot be tested here.
  std::string (*start)();
  void (*stop)();
  // Until what the program marked is on the screen and what the platform
  // was sent has arrived (OpenGL back ends take events at flips).
  void (*settle)();
  // The window's client area, 0xRRGGBB a pixel by rows; empty when the
  // back end shows nothing there.
  std::vector<uint32_t> (*grab)(int32_t& width, int32_t& height);
  // Types the keys in order through the platform's input; false when it
  // has none.
  bool (*type)(const std::vector<Key>& keys);
  // The window manager's (or the close box's) close request; false when
  // the platform cannot send one.
  bool (*requestClose)();
  // The window's title as the platform holds it; false when it has none.
  bool (*title)(std::string& title);
  // Why pixels, input or the title cannot be observed (for the skips).
  const char* noScreen;
  const char* noInput;
  // Starts a record of what the platform is told changed on the window;
  // `sentRows` gives the client-area rows it was told of since (joined;
  // first == end for none). Null where no client can read such a record.
  void (*watch)() = nullptr;
  bool (*sentRows)(int32_t& first, int32_t& end) = nullptr;
  const char* noRecord = nullptr;
  // The platform protocol's rules the window broke since it opened, in
  // words ("" for none). Null where the platform checks its own.
  std::string (*protocolFaults)() = nullptr;
  // Holds a key down for `ms` through the platform's input, after setting
  // the platform's key repeat to `delay` ms and `rate` a second; false when
  // its input cannot hold a key.
  bool (*holdKey)(const char* name, int ms, int delay, int rate) = nullptr;
  const char* noRepeat = nullptr;
  // The pointer moved to client point (x, y), `count` quick clicks of a
  // button (1 left, 2 right, 3 middle), wheel notches (positive away from
  // the user), through the platform's input; null where it has no pointer
  // input (noPointer says why).
  bool (*pointTo)(int32_t x, int32_t y) = nullptr;
  bool (*click)(int32_t button, int32_t count) = nullptr;
  bool (*scroll)(int32_t notches) = nullptr;
  const char* noPointer = nullptr;
  // The window resized to a client area of about width x height, as a
  // user dragging its border would (the window manager may choose
  // otherwise); false where the platform cannot.
  bool (*resize)(int32_t width, int32_t height) = nullptr;
  // The window loses the keyboard's focus to something else of the
  // platform's (false) or takes it back (true), as a user switching away
  // and back would.
  bool (*focus)(bool take) = nullptr;
  // What the window shows for page pixel (x, y), where the platform's
  // surface format differs from the runtime's (null: the runtime's own
  // conversion to 24 bits).
  uint32_t (*shownAs)(const ScreenMode* m, int x, int y) = nullptr;
  // Whether `type` takes a character by "U" and its code point in hex
  // ("U20AC", "U1F600"), as X names such key symbols: characters no key of
  // the keyboard has, typed as a tool that types any character does.
  bool anyCharacter = false;
  // Presses (true) or lets go of (false) one key through the platform's
  // input and nothing else, so it stays held between calls; null where the
  // adapter cannot.
  bool (*pressKey)(const char* name, bool press) = nullptr;
  // An input method of the platform's commits `text` to the focused window
  // (a CJK phrase, a character picked from a list); null where the adapter
  // has none.
  bool (*commitText)(const char* text) = nullptr;
};

// The adapters, each defined where its platform is built.
extern const Backend x11Backend, glxBackend, waylandBackend, nullBackend, gdiBackend, directXBackend,
    direct2DBackend, wglBackend;

// The back ends of this build, in the order their tests are listed.
std::vector<const Backend*> backendsOfThisBuild();

}  // namespace pel::conformance
