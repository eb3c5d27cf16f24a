// Fake display back ends that record every call, for testing mode setting's
// passes and the locking protocol without a display.
#pragma once
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "gfx/driver.h"

namespace fake {

inline std::vector<std::string> calls;

// Which init calls succeed: by default none; `acceptRate` >= 0 accepts that
// refresh rate only; `acceptFlags` >= 0 additionally requires those flags.
struct Behaviour {
  int acceptRate = -2;
  int acceptFlags = -1;
  const char* reason = nullptr;  // given when refusing
};

template <char Name>
struct Driver {
  static inline Behaviour behaviour;
  static inline int locks = 0;
  static inline int unlocks = 0;
  static inline std::string title;
  static inline std::vector<std::string> palette;

  static std::string tag() { return std::string(1, Name); }
  static int32_t init(const char*, int32_t w, int32_t h, int32_t depth, int32_t rate, int32_t flags) {
    calls.push_back(tag() + ".init " + std::to_string(w) + "x" + std::to_string(h) + "x" + std::to_string(depth) +
                    " rate " + std::to_string(rate) + " flags " + std::to_string(flags));
    const bool rateOk = behaviour.acceptRate == -1 || behaviour.acceptRate == rate;
    const bool flagsOk = behaviour.acceptFlags < 0 || behaviour.acceptFlags == flags;
    if (rateOk && flagsOk) return 0;
    if (behaviour.reason) pel::refuseBecause(behaviour.reason);
    return 1;
  }
  static void exit() { calls.push_back(tag() + ".exit"); }
  static void lock() { ++locks; }
  static void unlock() { ++unlocks; }
  static void setWindowTitle(const char* t) { title = t; }
  static void setPalette(int32_t i, int32_t r, int32_t g, int32_t b) {
    palette.push_back(std::to_string(i) + ":" + std::to_string(r) + "," + std::to_string(g) + "," + std::to_string(b));
  }

  static inline const char name[2] = {Name, 0};
  static inline const pel::DisplayDriver table = {
      .name = name, .init = init, .exit = exit, .lock = lock, .unlock = unlock,
      .setPalette = setPalette, .setWindowTitle = setWindowTitle};

  static void reset() {
    behaviour = {};
    locks = unlocks = 0;
    title.clear();
    palette.clear();
  }
};

using A = Driver<'A'>;
using B = Driver<'B'>;

inline const pel::DisplayDriver* const list[] = {&A::table, &B::table, nullptr};

// A back end whose lock is a real mutex, as a window thread's would be, and
// whose mouse and retrace operations are recorded.
struct Locking {
  static inline std::mutex presentation;
  static inline int vsyncs = 0;
  static int32_t getMouse(int32_t* x, int32_t* y, int32_t* wheel, int32_t* buttons, int32_t* clip) {
    *x = 10;
    *y = 20;
    *wheel = 3;
    *buttons = 5;
    *clip = 0;
    return 0;
  }
  static inline const pel::DisplayDriver table = {
      .name = "Locking",
      .init = [](const char*, int32_t, int32_t, int32_t, int32_t, int32_t) { return int32_t{0}; },
      .lock = [] { presentation.lock(); },
      .unlock = [] { presentation.unlock(); },
      .waitVsync = [] { ++vsyncs; },
      .getMouse = getMouse,
  };
  static inline const pel::DisplayDriver* const list[] = {&table, nullptr};
  static void install() {
    unsetenv("KELGFX");
    pel::setBackendList(list);
  }
};

// Installs the fake list with A accepting any call, clears KELGFX and the log.
inline void install() {
  A::reset();
  B::reset();
  A::behaviour.acceptRate = -1;
  calls.clear();
  unsetenv("KELGFX");
  pel::setBackendList(list);
}

}  // namespace fake
