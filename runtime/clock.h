// High-resolution clock in seconds.
#pragma once
#include <cstdint>

namespace pel {

// Seconds since an arbitrary origin.
double timerSeconds();

// 0 not yet probed, 1 millisecond ticks, 2 performance counter.
int32_t clockMode();

}  // namespace pel
