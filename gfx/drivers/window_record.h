// The record every windowed back end keeps the same way: the window rules'
// state, the picture's size, zoom and place in the window, double-click
// timing, the title, the window thread's start, the lost flag and the held
// keys. A back end's own record adds its platform part to it
// (struct X11Window : WindowRecord), so what they share is written once.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

#include "gfx/drivers/window_rules.h"
#include "gfx/drivers/window_scale.h"

namespace pel {

// The window's title: set on any thread, put on the window by the window's
// thread.
class WindowTitle {
 public:
  void set(const char* title);
  // The title when it changed since the last call (the window's thread).
  bool takeChange(std::string& title);
  // The latest title, for a window being built.
  std::string current();

 private:
  std::mutex lock_;
  std::string title_;
  bool changed_ = false;
};

// The window thread's start: the program's thread waits until the window
// thread says whether its window runs.
class StartSignal {
 public:
  void reset();
  void report(bool running);
  bool wait();

 private:
  std::mutex lock_;
  std::condition_variable reported_;
  int state_ = 1;  // 1 pending, 0 running, -1 failed
};

// A press makes a double click when the same button was pressed within the
// desktop's double-click time before, and that press did not itself end a
// double click. Times are the platform's milliseconds, wrapping at 2^32.
struct DoubleClicks {
  uint32_t ms = 400;
  bool press(int32_t buttonBit, uint32_t time);

 private:
  uint32_t last_[5] = {};
  bool pending_[5] = {};
};

struct WindowRecord {
  WindowRules rules{};
  int32_t width = 0, height = 0;     // the picture's size (height counts repeated lines)
  WindowScale scale{};               // as asked at the mode set
  int32_t zoom = 1;                  // the zoom the window opened with
  int32_t windowW = 0, windowH = 0;  // the client area as the platform made it
  PictureRect picture{};             // the picture's place in it
  DoubleClicks clicks;
  WindowTitle title;
  StartSignal start;
  std::atomic<bool> lost{false};  // the display went away
  bool keyDown[256] = {};         // held keys by the platform's key code: a press while held repeats
  bool placed = false;            // the window has had its first place
};

// Records the client area and the picture's place in it. A change after the
// window's first place is told to the program (a Resize event); the last
// place is what windowArea gives.
// `bufferScale` is how many buffer pixels the picture's place counts a
// window pixel (Wayland's outputs of higher density, 1.5 at a fractional
// scale).
void placeWindow(WindowRecord& r, int32_t clientW, int32_t clientH, const PictureRect& shown, double bufferScale = 1);
// The client area and picture of the open mode's window; false when the
// mode has no window (the null back end) or none was placed yet.
bool windowArea(WindowArea& area);

// How a window shows its picture: at the client area's corner, centred at
// its own size (full screen without scaling), or scaled to the area keeping
// its shape, centred (at `zoom` exactly when that fits; zoom 0 fits).
enum class PicturePlace { corner, centred, scaled };
PictureRect pictureInWindow(int32_t clientW, int32_t clientH, int32_t pageW, int32_t pageH, PicturePlace how,
                            int32_t zoom = 0);

// The windowed back ends present pages; an OpenGL mode is refused with the
// reason. True when refused.
bool refusesOpenGlMode(int32_t modeFlags);

}  // namespace pel
