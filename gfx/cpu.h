// Processor feature probe.
#pragma once
#include <cstdint>

namespace pel {

namespace cpubit {
constexpr uint32_t mmx = 0x800000;
constexpr uint32_t sse = 0x2000000;
constexpr uint32_t sse2 = 0x4000000;
}  // namespace cpubit

// Bits 0-27: the low 28 standard feature flags of CPUID leaf 1 (EDX);
// bits 28-31: the processor family. Computed on the first call.
uint32_t detectCpu();

// AVX2 usable: reported by the processor and its state saved by the system.
bool cpuHasAvx2();

}  // namespace pel
