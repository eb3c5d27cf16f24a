#include "events.h"

#include <cstdlib>
#include <mutex>
#include <new>

#include "gfx/memory.h"

namespace pel {

void* createEventLock() {
  void* storage = allocate(sizeof(std::mutex));
  return storage ? new (storage) std::mutex : nullptr;
}

void destroyEventLock(void* lock) {
  if (!lock) return;
  static_cast<std::mutex*>(lock)->~mutex();
  std::free(lock);
}

void acquireEventLock(void* lock) { static_cast<std::mutex*>(lock)->lock(); }
void releaseEventLock(void* lock) { static_cast<std::mutex*>(lock)->unlock(); }

}  // namespace pel
