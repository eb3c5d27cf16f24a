// Pacing for a back end that cannot wait for the vertical retrace, or whose
// wait returns at once (some drivers, Wine, the null back end): a retrace
// comes no sooner than about a period after the last one, so the rest of the
// period is slept out and a loop of drawing and waiting still runs at the
// refresh rate.
#pragma once
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <thread>

namespace pel {

class RetracePacer {
 public:
  // After the back end's own wait; `rate` in Hz, 0, 1 or an unlikely value
  // counting as 60.
  void pace(int32_t rate) {
    using clock = std::chrono::steady_clock;
    if (rate < 24 || rate > 480) rate = 60;
    const auto period = std::chrono::duration_cast<clock::duration>(std::chrono::duration<double>(1.0 / rate));
    auto now = clock::now();
    if (last_ != clock::time_point{} && now - last_ < period * 3 / 4) {
      std::this_thread::sleep_until(last_ + period);
      now = std::max(clock::now(), last_ + period);
    }
    last_ = now;
  }

 private:
  std::chrono::steady_clock::time_point last_{};
};

}  // namespace pel
