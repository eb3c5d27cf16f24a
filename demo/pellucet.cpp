#include "pellucet.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "demo/disc.h"
#include "gfx/draw.h"
#include "gfx/mode.h"
#include "gfx/pages.h"
#include "gfx/text.h"
#include "runtime/clock.h"
#include "runtime/keys.h"
#include "runtime/random.h"
#include "runtime/runtime.h"

namespace pel {
namespace {

constexpr int32_t screenWidth = 800, screenHeight = 600;

// Ties to even, as the processor rounds by default.
int32_t roundEven(double v) { return static_cast<int32_t>(std::nearbyint(v)); }

}  // namespace

bool demoStart(DemoState& s, double seed, double (*clock)()) {
  s.levelStep = static_cast<float>(255.0 / DemoState::cellSize);
  s.ringStep = 2.0f;
  s.ring = s.level = s.ringRadius = 0.0f;
  s.cells = static_cast<CellRecord*>(std::calloc(DemoState::cellCount, sizeof(CellRecord)));
  if (!s.cells) return false;
  s.clock = clock;
  seedRandom(seed, 2);
  for (int i = 0; i < DemoState::cellCount; ++i) {
    CellRecord& c = s.cells[i];
    c.x = static_cast<float>(DemoState::cellSize + nextRandom(1.0f) * (799 - 2 * DemoState::cellSize));
    c.y = static_cast<float>(DemoState::cellSize + nextRandom(1.0f) * (599 - 2 * DemoState::cellSize));
    c.dx = static_cast<float>(nextRandom(1.0f) - 0.5);
    c.dy = static_cast<float>(nextRandom(1.0f) - 0.5);
    c.mark0 = static_cast<uint8_t>(roundEven(nextRandom(1.0f) * 255));
    c.mark1 = c.mark2 = 0;
  }
  s.shownFps = 0;
  s.framesThisWindow = 0;
  s.framesTotal = 0;
  s.averageFps = 0.0f;
  s.windowStart = static_cast<float>(clock());
  return true;
}

void demoEnd(DemoState& s) {
  std::free(s.cells);
  s.cells = nullptr;
}

std::string frameRateText(const DemoState& s) {
  const int64_t rounded = static_cast<int64_t>(std::nearbyint(static_cast<double>(s.averageFps)));
  const int64_t shownAverage = (rounded & 0xFFFF) + 1;
  return std::to_string(s.shownFps) + " fps / average: " + std::to_string(shownAverage) + " fps";
}

void demoFrame(DemoState& s) {
  drawLine(nullptr, 1, 1, 200, 10, 0, linekind::filledBox, 0xFFFF, 0);

  for (s.ring = 1.0f; s.ring <= static_cast<float>(DemoState::cellSize); s.ring += s.ringStep) {
    s.level = s.levelStep * s.ring;
    s.ringRadius = DemoState::cellSize - s.ring;
    const uint32_t value = static_cast<uint32_t>(roundEven(s.level)) << 8;
    const int32_t radius = roundEven(s.ringRadius);
    for (int i = 0; i < DemoState::cellCount; ++i) {
      fillDisc(roundEven(s.cells[i].x), roundEven(s.cells[i].y), radius, value);
    }
  }

  for (int i = 0; i < DemoState::cellCount; ++i) {
    CellRecord& c = s.cells[i];
    c.x = c.x + c.dx;
    c.y = c.y + c.dy;
    if (c.x < DemoState::cellSize || c.x > screenWidth - DemoState::cellSize) c.dx = -c.dx;
    if (c.y < DemoState::cellSize || c.y > screenHeight - DemoState::cellSize) c.dy = -c.dy;
  }

  const std::string line = frameRateText(s);
  const TextString text{line.data(), static_cast<uint32_t>(line.size())};
  drawString(nullptr, 1, 1, 4, &text, 0xFFFFFFFF, nullptr, 0, nullptr, nullptr, nullptr);

  copyPage(-1, -1);
  countFrame(s);
}

void countFrame(DemoState& s) {
  ++s.framesThisWindow;
  ++s.framesTotal;
  // After 65,535 frames the count wraps to 0; that frame leaves the average
  // as it is and the following ones restart the running mean.
  if (s.framesTotal != 0) {
    s.averageFps = static_cast<float>(s.averageFps + (static_cast<double>(s.shownFps) - s.averageFps) / s.framesTotal);
  }
  if (s.clock() - s.windowStart > 0.99) {
    s.shownFps = s.framesThisWindow;
    s.framesThisWindow = 0;
    s.windowStart = static_cast<float>(s.clock());
  }
}

void pellucetMain(int argc, char** argv) {
  runtimeInit(argc, argv, 0);
  if (openScreenBySize(800, 600, 32, 2, 36, 0) != 0) {
    std::fputs("pellucet: no display back end could be opened for an 800 x 600 window "
               "(set KELGFX=null to run without one)\n", stderr);
    runtimeEnd(1);
  }
  setPages(1, 0);
  setTitle("Pellucet v0.50 by Ixo");
  screenBase = reinterpret_cast<uint32_t*>(workPagePointer());
  DemoState state;
  if (!demoStart(state, timerSeconds(), timerSeconds)) {
    std::fputs("pellucet: out of memory\n", stderr);
    runtimeEnd(1);
  }
  for (;;) {
    demoFrame(state);
    sleepMs(1);
    if (!readKey().empty()) break;
  }
  demoEnd(state);
  runtimeEnd(0);
}

}  // namespace pel
