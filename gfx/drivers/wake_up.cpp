#include "wake_up.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#if __has_include(<sys/eventfd.h>)
#include <sys/eventfd.h>
#define PEL_HAVE_EVENTFD 1
#endif

namespace pel {

bool WakeUp::open() {
  close();
#ifdef PEL_HAVE_EVENTFD
  // One counter for both ends; a kernel without it falls back to the pipe.
  read_ = write_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (read_ >= 0) return true;
#endif
  int ends[2];
  if (pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) return false;
  read_ = ends[0];
  write_ = ends[1];
  return true;
}

void WakeUp::close() {
  if (write_ >= 0 && write_ != read_) ::close(write_);
  if (read_ >= 0) ::close(read_);
  read_ = write_ = -1;
  asked_ = false;
}

void WakeUp::wake() {
  if (write_ < 0 || asked_.exchange(true, std::memory_order_acq_rel)) return;
  // Eight bytes suit both: an eventfd adds them up, a pipe keeps them (a
  // full pipe is readable already).
  const uint64_t one = 1;
  while (write(write_, &one, sizeof one) < 0 && errno == EINTR) {
  }
}

short WakeUp::sleep(int platformFd, int timeoutMs) {
  pollfd fds[2] = {{read_, POLLIN, 0}, {platformFd, POLLIN, 0}};
  const nfds_t count = platformFd >= 0 ? 2 : 1;
  if (poll(fds, count, timeoutMs) <= 0) return 0;
  if (fds[0].revents) {
    // Emptied before the flag is cleared: a wake in between finds the flag
    // still set and writes nothing, and what it did is seen after this.
    uint64_t drained[8];
    while (read(read_, drained, sizeof drained) > 0) {
    }
    asked_.exchange(false, std::memory_order_acq_rel);
  }
  return count == 2 ? fds[1].revents : 0;
}

}  // namespace pel
