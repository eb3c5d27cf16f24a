#include "cpu.h"

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#endif

namespace pel {
namespace {

uint32_t cpuFeatures = 0;
bool avx512Allowed = true;

#if defined(__i386__)
// Whether bit `bit` of EFLAGS can be toggled.
bool flagToggles(uint32_t bit) {
  uint32_t before, after;
  __asm__ volatile(
      "pushfl\n\t"
      "pushfl\n\t"
      "popl %0\n\t"
      "movl %0, %1\n\t"
      "xorl %2, %1\n\t"
      "pushl %1\n\t"
      "popfl\n\t"
      "pushfl\n\t"
      "popl %1\n\t"
      "popfl"
      : "=&r"(before), "=&r"(after)
      : "ir"(1u << bit));
  return ((before ^ after) >> bit) & 1u;
}
#endif

}  // namespace

uint32_t detectCpu() {
  if (cpuFeatures != 0) return cpuFeatures;
#if defined(__i386__) || defined(__x86_64__)
#if defined(__i386__)
  if (!flagToggles(21)) {
    cpuFeatures = flagToggles(18) ? 0x40000000u : 0x30000000u;
    return cpuFeatures;
  }
#endif
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  __cpuid(1, eax, ebx, ecx, edx);
  cpuFeatures = ((eax >> 8) & 0xFu) << 28 | (edx & 0x0FFFFFFFu);
#else
  cpuFeatures = 0x30000000u;  // no x86 features to report
#endif
  return cpuFeatures;
}

bool cpuHasAvx2() {
#if defined(__i386__) || defined(__x86_64__)
  static const bool avx2 = [] {
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (__get_cpuid_max(0, nullptr) < 7) return false;
    __cpuid(1, eax, ebx, ecx, edx);
    const bool osxsave = (ecx >> 27) & 1u, avx = (ecx >> 28) & 1u;
    if (!osxsave || !avx) return false;
    uint32_t xcr0Low, xcr0High;
    __asm__("xgetbv" : "=a"(xcr0Low), "=d"(xcr0High) : "c"(0));
    if ((xcr0Low & 0x6u) != 0x6u) return false;  // XMM and YMM state
    __cpuid_count(7, 0, eax, ebx, ecx, edx);
    return ((ebx >> 5) & 1u) != 0;
  }();
  return avx2;
#else
  return false;
#endif
}

bool cpuHasAvx512Vbmi() {
#if defined(__i386__) || defined(__x86_64__)
  static const bool vbmi = [] {
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (__get_cpuid_max(0, nullptr) < 7) return false;
    __cpuid(1, eax, ebx, ecx, edx);
    if (!((ecx >> 27) & 1u)) return false;  // no XGETBV
    uint32_t xcr0Low, xcr0High;
    __asm__("xgetbv" : "=a"(xcr0Low), "=d"(xcr0High) : "c"(0));
    if ((xcr0Low & 0xE6u) != 0xE6u) return false;  // XMM, YMM, mask and ZMM state
    __cpuid_count(7, 0, eax, ebx, ecx, edx);
    const bool f = (ebx >> 16) & 1u, bw = (ebx >> 30) & 1u, bytePermutes = (ecx >> 1) & 1u;
    return f && bw && bytePermutes;
  }();
  return vbmi && avx512Allowed;
#else
  return false;
#endif
}

void allowAvx512(bool allowed) { avx512Allowed = allowed; }

}  // namespace pel
