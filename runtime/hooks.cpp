#include "hooks.h"

#include <array>
#include <bit>
#include <cstdint>

namespace pel {
namespace {
HookSlots slots{};
}

HookSlots& hooks() { return slots; }

int filledHookSlots() {
  int filled = 0;
  for (std::uintptr_t word : std::bit_cast<std::array<std::uintptr_t, hookSlotCount>>(slots)) filled += word != 0;
  return filled;
}

}  // namespace pel
