#include "keys.h"

#include <atomic>
#include <mutex>

#include "hooks.h"
#include "platform.h"

namespace pel {
namespace {

// The console's own input arrives on the program's thread, but tests and
// embedding programs may post from another one, so the ring is guarded.
struct ConsoleKeyRing {
  std::mutex lock;
  int32_t codes[512] = {};
  uint32_t read = 0;
  uint32_t write = 0;
  std::atomic<int32_t> pressed{0};
};
constexpr uint32_t ringMask = 0x1FF;

ConsoleKeyRing ring;

int32_t pollFlag() {
  platform::pollConsoleInput();
  return takeConsoleKeyFlag();
}

}  // namespace

void postConsoleKey(int32_t code) {
  {
    std::lock_guard guard(ring.lock);
    const uint32_t next = (ring.write + 1) & ringMask;
    if (next == ring.read) return;  // full
    ring.codes[ring.write] = code;
    ring.write = next;
  }
  ring.pressed = 1;
}

int32_t takeConsoleKey() {
  std::lock_guard guard(ring.lock);
  if (ring.read == ring.write) return 0;
  const int32_t code = ring.codes[ring.read];
  ring.read = (ring.read + 1) & ringMask;
  return code;
}

int32_t takeConsoleChar() {
  std::lock_guard guard(ring.lock);
  if (ring.read == ring.write) return 0;
  int32_t& code = ring.codes[ring.read];
  if (code >= 256) {
    code >>= 8;
    return 255;
  }
  const int32_t result = code;
  ring.read = (ring.read + 1) & ringMask;
  return result;
}

int32_t takeConsoleKeyFlag() { return ring.pressed.exchange(0); }

std::string keyString(int32_t code) {
  if (code == 0) return {};
  if (code >= 256) return {static_cast<char>(code & 0xFF), static_cast<char>(code >> 8)};
  return std::string(1, static_cast<char>(code & 0xFF));
}

int32_t sleepMs(int32_t ms) {
  if (auto hook = hooks().sleep) return hook(ms);
  if (ms == -1) {
    for (;;) {
      if (int32_t flag = pollFlag()) return flag;
      platform::sleepMilliseconds(50);
    }
  }
  if (ms < 0) return 0;
  if (ms >= 100) {
    while (ms > 50) {
      if (int32_t flag = pollFlag()) return flag;
      platform::sleepMilliseconds(50);
      ms -= 50;
    }
  }
  platform::sleepMilliseconds(static_cast<uint32_t>(ms));
  return 0;
}

std::string readKey() {
  if (auto hook = hooks().readKey) return hook();
  platform::pollConsoleInput();
  return keyString(takeConsoleKey());
}

int32_t waitKey() {
  if (auto hook = hooks().waitKey) return hook();
  for (;;) {
    platform::pollConsoleInput();
    if (int32_t code = takeConsoleKey()) return code;
    sleepMs(-1);
  }
}

int32_t keyWaiting() {
  if (auto hook = hooks().keyWaiting) return hook();
  platform::pollConsoleInput();
  std::lock_guard guard(ring.lock);
  return ring.read != ring.write ? 1 : 0;
}

}  // namespace pel
