// The operations table of a display back end, the back-end list in the order
// mode setting tries it, and the null back end that shows nothing.
#pragma once
#include <cstdint>

namespace pel {

// A missing operation is a null entry; callers test before calling.
struct DisplayDriver {
  const char* name = nullptr;
  int32_t (*init)(const char* title, int32_t width, int32_t height, int32_t depth,
                  int32_t refreshRate, int32_t flags) = nullptr;  // 0 success
  void (*exit)() = nullptr;
  void (*lock)() = nullptr;
  void (*unlock)() = nullptr;
  void (*setPalette)(int32_t index, int32_t red, int32_t green, int32_t blue) = nullptr;
  void (*waitVsync)() = nullptr;
  int32_t (*getMouse)(int32_t* x, int32_t* y, int32_t* wheel, int32_t* buttons,
                      int32_t* clip) = nullptr;  // 0 valid, -1 no mouse data
  int32_t (*setMouse)(int32_t x, int32_t y, int32_t cursor, int32_t clip) = nullptr;
  void (*setWindowTitle)(const char* title) = nullptr;
  int32_t (*setWindowPos)(int32_t x, int32_t y) = nullptr;
  // A malloc'ed array of (width << 16) | height, freed by the caller.
  int32_t* (*fetchModes)(int32_t depth, int32_t* count) = nullptr;
  void (*flip)() = nullptr;
  void (*pollEvents)() = nullptr;
  // The program marked rows of the visible page (a flip, an unlock with
  // rows, a palette change) and is about to release the lock's last level,
  // which it still holds: a back end presenting from a thread of its own
  // wakes it, so the rows go out now rather than at its next tick.
  void (*rowsMarked)() = nullptr;
};

constexpr int32_t keepCoordinate = INT32_MIN;  // setMouse / setWindowPos

// A back end refusing a mode set says why in a few words ("no X display");
// the mode set lists each back end tried with its reason (see
// modeSetFailure). A string literal: only the pointer is kept.
void refuseBecause(const char* reason);
// The reason given since the last call, or null; cleared.
const char* takeRefusalReason();

extern const DisplayDriver nullDriver;

// The null-terminated list that mode setting walks, in the order tried.
const DisplayDriver* const* backendList();
// Replaces the list (tests use fake drivers); null restores the platform's.
void setBackendList(const DisplayDriver* const* list);

}  // namespace pel
