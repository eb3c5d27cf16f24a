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

// AVX-512 with byte permutes (F, BW and VBMI) usable, and not turned off by
// allowAvx512 (tests turn it off to check the AVX2 forms on such processors).
bool cpuHasAvx512Vbmi();
void allowAvx512(bool allowed);

}  // namespace pel
