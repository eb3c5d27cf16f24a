// The demo: fifty cells drawn as stacks of glowing green discs, moved and
// bounced inside a 100-pixel margin, with a frame-rate line.
#pragma once
#include <cstdint>
#include <string>

namespace pel {

struct CellRecord {
  float x, y;    // centre, in pixels
  float dx, dy;  // movement per frame
  uint32_t aux;  // never used
  uint8_t mark0, mark1, mark2;
};

struct DemoState {
  static constexpr uint8_t cellCount = 50;
  static constexpr uint8_t cellSize = 100;  // largest radius + 1, and the margin
  float levelStep = 0.0f;
  float ringStep = 0.0f;
  float ring = 0.0f, level = 0.0f, ringRadius = 0.0f;
  CellRecord* cells = nullptr;
  uint32_t shownFps = 0;
  uint16_t framesThisWindow = 0;
  uint16_t framesTotal = 0;
  float averageFps = 0.0f;
  float windowStart = 0.0f;
  double (*clock)() = nullptr;  // seconds; timerSeconds in the program
};

// Start-up after the mode is set: cells seeded from the fast generator,
// counters cleared. False when the cells cannot be allocated.
bool demoStart(DemoState& state, double seed, double (*clock)());
void demoEnd(DemoState& state);

// One frame: text area, rings, move and bounce, frame-rate text, page copy,
// the running average and the measuring window.
void demoFrame(DemoState& state);
// The end of a frame: the counters, the running average and the measuring
// window (demoFrame calls it).
void countFrame(DemoState& state);

// The frame-rate line of the current state.
std::string frameRateText(const DemoState& state);

// The program: start-up, the frame loop until a key, the end. Does not return.
[[noreturn]] void pellucetMain(int argc, char** argv);

}  // namespace pel
