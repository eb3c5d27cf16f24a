// Wakes a window thread that sleeps in poll(2) on its platform's descriptor:
// a second descriptor beside it (an eventfd, a pipe where there is none)
// that any thread writes when it has something for the window thread, so
// the thread sleeps while there is nothing to do instead of waking on a tick.
#pragma once

#include <atomic>

namespace pel {

class WakeUp {
 public:
  // False when no descriptor could be made. Opened before the window thread
  // starts and closed after it ended.
  bool open();
  void close();
  // Any thread: the window thread's next poll returns at once. A wake asked
  // for and not yet taken makes the next ones cost nothing.
  void wake();
  // The window thread: sleeps until the platform's descriptor (-1: none)
  // has something to read or hangs up, a wake is asked for, or timeoutMs
  // pass (-1: no limit). Takes the wake, so what the wakers did before it
  // is there to see. The platform descriptor's poll events, 0 for none.
  short sleep(int platformFd, int timeoutMs);

 private:
  int read_ = -1, write_ = -1;
  std::atomic<bool> asked_{false};
};

}  // namespace pel
