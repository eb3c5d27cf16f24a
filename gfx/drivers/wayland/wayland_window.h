// The "Wayland" back end's window record: the connection and the globals it
// binds, the xdg-shell window, the shared-memory buffers the picture is
// presented from, and the input devices, all run by one window thread.
#pragma once

#include "gfx/drivers/wayland/wayland_library.h"
#include "gfx/drivers/xkb_keys.h"

#include "text-input-unstable-v3-client-protocol.h"
#include "viewporter-client-protocol.h"
#include "xdg-decoration-unstable-v1-client-protocol.h"
#include "xdg-output-unstable-v1-client-protocol.h"
#include "xdg-shell-client-protocol.h"
#ifdef PEL_HAVE_FRACTIONAL_SCALE
#include "fractional-scale-v1-client-protocol.h"
#else
struct wp_fractional_scale_manager_v1;
struct wp_fractional_scale_v1;
#endif

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "gfx/drivers/present.h"
#include "gfx/drivers/wake_up.h"
#include "gfx/drivers/window_record.h"

namespace pel::wayland {

// One wl_shm buffer of the window's size. The compositor reads it from
// commit to release; it is written only in between.
struct Buffer {
  wl_buffer* buffer = nullptr;
  uint8_t* pixels = nullptr;  // in the pool's mapping
  bool busy = false;
  // Page rows newer on the window than in this buffer: written along with
  // the next band that goes into it.
  RowSpan stale{};
  bool fresh = false;  // never shown: damaged whole, bars and all
};
constexpr int bufferCount = 2;

// One of the compositor's outputs, as wl_output and xdg-output describe it.
struct Output {
  uint32_t name = 0;  // the registry's
  wl_output* output = nullptr;
  zxdg_output_v1* xdgOutput = nullptr;
  int32_t w = 0, h = 0, rate = 0, scale = 1;  // the current mode (real pixels, hertz) and the whole scale
  int32_t logicalW = 0, logicalH = 0;          // the size in logical pixels (xdg-output), 0 while unknown
  bool turned = false;                         // a transform of 90 or 270 degrees: the mode's sides swap
};

// The back end's lock. The program may hold it for long (lockPixels): the
// window thread, while it waits for it, still answers the compositor's
// pings (and touches nothing else), so the window is not taken for hung.
// A flag under a plain mutex rather than a timed mutex: the thread
// checkers in use do not see timed waits on a mutex taken.
class PresentationLock {
 public:
  void lock();
  void unlock() {
    {
      std::lock_guard guard(state_);
      held_ = false;
    }
    free_.notify_one();
  }
  bool try_lock() {
    std::lock_guard guard(state_);
    if (held_) return false;
    held_ = true;
    return true;
  }

 private:
  std::mutex state_;
  std::condition_variable free_;
  bool held_ = false;
};

// The shared record (windowW x windowH in the output's logical pixels, the
// picture placed in the buffers' real ones) and Wayland's part.
struct WaylandWindow : WindowRecord {
  wl_display* display = nullptr;
  wl_registry* registry = nullptr;
  wl_compositor* compositor = nullptr;
  wl_shm* shm = nullptr;
  xdg_wm_base* wmBase = nullptr;
  zxdg_decoration_manager_v1* decorations = nullptr;
  wl_seat* seat = nullptr;
  // Text from the compositor's input method, where it offers one.
  zwp_text_input_manager_v3* textInputs = nullptr;
  zwp_text_input_v3* textInput = nullptr;
  std::string committed;  // the text of the input method's pending commit
  wp_viewporter* viewporter = nullptr;
  zxdg_output_manager_v1* xdgOutputs = nullptr;
  wp_fractional_scale_manager_v1* fractionalScales = nullptr;
  wl_event_queue* pings = nullptr;  // xdg_wm_base's events alone, dispatched without the lock
  // Every output; the window's is the one it entered last (the compositor's
  // choice for a new window, the first output until it says).
  std::vector<std::unique_ptr<Output>> outputs;
  Output* shownOn = nullptr;
  bool outputTold = false;  // a window of this connection entered an output: shownOn is the compositor's
  std::vector<wl_output*> entered;  // the outputs the surface is on, by the order entered
  int32_t outputW = 0, outputH = 0, outputRate = 0, outputScale = 1;  // the window's output's current mode

  // The window, rebuilt by the full-screen toggle.
  wl_surface* surface = nullptr;
  xdg_surface* xdgSurface = nullptr;
  xdg_toplevel* toplevel = nullptr;
  zxdg_toplevel_decoration_v1* decoration = nullptr;
  // The frames the compositor answered it would draw (0 before it answered);
  // once it answered client-side for a framed window, libdecor frames them.
  uint32_t decorationMode = 0;
  bool framesRefused = false;
  wp_viewport* viewport = nullptr;                   // scaled windows, where the viewporter is offered
  wp_fractional_scale_v1* fractionalScale = nullptr;  // ... and the fractional-scale protocol
  int32_t preferredScale = 0;                        // in 120ths, as that protocol tells it; 0 untold
#ifdef PEL_HAVE_LIBDECOR
  libdecor* decor = nullptr;             // window frames drawn here, made when a window first needs one
  libdecor_frame* decorFrame = nullptr;  // the window's frame; it owns the xdg objects then
#endif
  wl_callback* frame = nullptr;  // the frame callback of the last commit, until done
  bool configured = false;       // the first configure arrived and was acknowledged
  int32_t askedW = 0, askedH = 0;  // the size the last configure asked for (0: ours to choose)
  bool askedFull = false;          // the last configure's states hold full screen
  bool askedMaximised = false;     // ... or maximised
  int32_t boundsW = 0, boundsH = 0;  // the area a window may take (configure_bounds, logical); 0 untold
  // The compositor put a fixed-size window in full screen or maximised it,
  // or took full screen away: the window and full screen trade places on
  // the next pass, as Alt+Enter does.
  bool switchAsked = false;

  // Scaled windows are drawn in the output's real pixels: scale120 of them
  // (in 120ths) a logical one, through the viewport, or a whole number of
  // them through the buffer scale where the viewporter is missing.
  int32_t scale120 = 120;
  double bufferScale = 1;            // buffer pixels a logical one: scale120 / 120
  int32_t targetW = 0, targetH = 0;  // the buffers' size for the surface

  // The buffers: one shared-memory pool holding them all, grown as the
  // window grows and kept for the life of the window. A resized window's
  // old buffer the compositor still holds is kept (`retired`) until
  // released, and the new ones are placed clear of it.
  int poolFd = -1;
  uint8_t* mapping = nullptr;
  std::size_t mappingSize = 0;
  wl_shm_pool* pool = nullptr;
  Buffer buffers[bufferCount];
  struct Retired {
    wl_buffer* buffer = nullptr;
    std::size_t from = 0, end = 0;  // its bytes in the pool
  };
  std::vector<Retired> retired;
  std::size_t bufferOffset[bufferCount] = {};
  int32_t bufferW = 0, bufferH = 0, stride = 0;
  bool argb = false;  // shaped windows: the colour key transparent
  std::vector<std::vector<std::pair<int32_t, int32_t>>> opaqueRuns;  // shaped: [from, to) by surface row
  Presenter presenter;

  // Input.
  wl_keyboard* keyboard = nullptr;
  wl_pointer* pointer = nullptr;
  xkb_context* xkb = nullptr;
  xkb_keymap* keymap = nullptr;
  xkb_state* xkbState = nullptr;
  xkb::Composer composer;  // dead keys and compose sequences
  bool evdevLayout = true;  // the keymap's key codes are a keyboard's (evdev + 8)
  int32_t repeatRate = 25, repeatDelay = 600;  // per second, milliseconds; rate 0: no repeat
  uint32_t repeatKey = 0;                      // the evdev code repeating, 0 none
  std::chrono::steady_clock::time_point nextRepeat{};
  // The surface the pointer is over: ours, another of ours (libdecor's
  // frame, whose clicks and wheels are not the program's) or none.
  wl_surface* pointerSurface = nullptr;
  uint32_t pointerSerial = 0;  // the last enter's, which set_cursor answers
  // What one pointer frame said of the wheels (vertical, horizontal): a
  // wheel's notches by the 120th, or continuous axis units.
  struct AxisFrame {
    int32_t steps120[2] = {};
    bool stepped[2] = {};
    double units[2] = {};
    bool moved[2] = {};
  } axisFrame;
  int32_t wheelRest120[2] = {};  // a high-resolution wheel's part notch
  double wheelRest[2] = {};      // continuous units short of a step
  // The pointer's picture: libwayland-cursor's theme, loaded at the first
  // enter; shown on each enter, hidden with a null surface.
  wl_cursor_theme* cursorTheme = nullptr;
  wl_cursor* cursorImage = nullptr;
  wl_surface* cursorSurface = nullptr;
  int32_t cursorScale = 1;   // the theme's pixels a surface pixel
  bool cursorTried = false;  // the theme was looked for (once a connection)

  std::thread thread;
  std::atomic<bool> running{false};
  PresentationLock presentation;
  WakeUp wake;  // the window thread's, for rows to present, a title and the exit

  // Frames the compositor reported done, for waitVsync.
  std::mutex frameLock;
  std::condition_variable frameDone;
  int64_t framesDone = 0;

};

extern WaylandWindow* win;

// The seat's devices and their listeners (wayland_input.cpp).
extern const wl_seat_listener seatListener;
void releaseInput();
// Key repeat from the compositor's rate and delay, run on each pass.
void repeatKeys();
// Milliseconds until the next repeat is due, or -1 when none is.
int repeatDueIn();

// The input method's text input on the seat (wayland_text_input.cpp).
void startTextInput();
void stopTextInput();

// Pointer positions on the surface as page points.
void pointerAt(double x, double y);
// The pointer's picture shown or hidden as the rules' cursorVisible says,
// on the surface it is over now (the rules' updateCursor; any thread).
void updateCursor();
// The program's name, the window's app_id (what the desktop groups and
// matches windows by).
const char* appId();

}  // namespace pel::wayland
