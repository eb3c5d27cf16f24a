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

#if defined(__i386__) || defined(__x86_64__)
namespace {

// Leaf 7's EBX and ECX when the system saves every state in `states` (XCR0
// bits), else zeros: a feature is usable only if its registers are saved.
struct Leaf7 {
  unsigned ebx = 0, ecx = 0;
};
Leaf7 leaf7WithStates(uint32_t states) {
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (__get_cpuid_max(0, nullptr) < 7) return {};
  __cpuid(1, eax, ebx, ecx, edx);
  const bool osxsave = (ecx >> 27) & 1u, avx = (ecx >> 28) & 1u;
  if (!osxsave || !avx) return {};
  uint32_t xcr0Low, xcr0High;
  __asm__("xgetbv" : "=a"(xcr0Low), "=d"(xcr0High) : "c"(0));
  if ((xcr0Low & states) != states) return {};
  __cpuid_count(7, 0, eax, ebx, ecx, edx);
  return {ebx, ecx};
}

}  // namespace
#endif

bool cpuHasAvx2() {
#if defined(__i386__) || defined(__x86_64__)
  static const bool avx2 = (leaf7WithStates(0x6u).ebx >> 5) & 1u;  // XMM and YMM state
  return avx2;
#else
  return false;
#endif
}

bool cpuHasAvx512Vbmi() {
#if defined(__i386__) || defined(__x86_64__)
  static const bool vbmi = [] {
    const Leaf7 l = leaf7WithStates(0xE6u);  // XMM, YMM, mask and ZMM state
    const bool f = (l.ebx >> 16) & 1u, bw = (l.ebx >> 30) & 1u, bytePermutes = (l.ecx >> 1) & 1u;
    return f && bw && bytePermutes;
  }();
  return vbmi && avx512Allowed;
#else
  return false;
#endif
}

void allowAvx512(bool allowed) { avx512Allowed = allowed; }

}  // namespace pel
