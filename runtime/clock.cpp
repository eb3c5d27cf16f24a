#include "clock.h"

#include "platform.h"

namespace pel {
namespace {
int32_t mode = 0;
double counterPeriod = 0.0;
}  // namespace

double timerSeconds() {
  if (mode == 0) {
    int64_t frequency = 0;
    if (platform::counterFrequency(frequency) && frequency > 0) {
      counterPeriod = static_cast<double>(1.0f) / static_cast<double>(frequency);
      mode = 2;
    } else {
      mode = 1;
    }
  }
  if (mode == 1) return platform::tickCount() * 0.001;
  return static_cast<double>(platform::counterValue()) * counterPeriod;
}

int32_t clockMode() { return mode; }

}  // namespace pel
