// Input stores of the open mode: the event record and the event queue's lock.
#pragma once
#include <cstdint>

namespace pel {

struct EventRecord {
  int32_t type;
  int32_t a, b, c, d;
};
static_assert(sizeof(EventRecord) == 20);

// What the window layer knew when it posted a record, kept beside it for the
// public layer: the pointer in client coordinates and the modifier word
// (keymod) at that moment, and what the record stands for where the
// runtime's own rule says something else.
struct EventContext {
  int32_t x, y;
  int32_t modifiers;
  int32_t step;  // wheels: +1 or -1
  uint32_t flags;
};

namespace eventflag {
constexpr uint32_t known = 0x01;        // x, y and modifiers were recorded
constexpr uint32_t systemPress = 0x02;  // a KeyRelease the rules post for a key pressed with Alt
constexpr uint32_t publicOnly = 0x04;   // no record of the runtime's: only the public layer sees it
constexpr uint32_t unpaired = 0x08;     // a release whose press was taken by the layer (Alt+Enter)
}  // namespace eventflag

constexpr int eventQueueSlots = 128;

// The event queue's lock: a mutex used as a binary semaphore.
void* createEventLock();  // null when it cannot be made
void destroyEventLock(void* lock);
void acquireEventLock(void* lock);
void releaseEventLock(void* lock);

}  // namespace pel
