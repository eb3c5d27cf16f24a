// Input stores of the open mode: the event record and the event queue's lock.
#pragma once
#include <cstdint>

namespace pel {

struct EventRecord {
  int32_t type;
  int32_t a, b, c, d;
};
static_assert(sizeof(EventRecord) == 20);

constexpr int eventQueueSlots = 128;

// The event queue's lock: a mutex used as a binary semaphore.
void* createEventLock();  // null when it cannot be made
void destroyEventLock(void* lock);
void acquireEventLock(void* lock);
void releaseEventLock(void* lock);

}  // namespace pel
