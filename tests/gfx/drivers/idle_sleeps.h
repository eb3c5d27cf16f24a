// How often an idle program's threads wake: each time a thread sleeps it
// makes a voluntary context switch, which the kernel counts by thread in
// /proc/self/task/*/status. The watcher's own thread is left out.
#pragma once

#include <dirent.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

inline long sleepsOfOtherThreads() {
  long total = 0;
  const std::string self = std::to_string(gettid());
  DIR* tasks = opendir("/proc/self/task");
  while (dirent* entry = tasks ? readdir(tasks) : nullptr) {
    const std::string id = entry->d_name;
    if (id[0] == '.' || id == self) continue;
    std::ifstream status("/proc/self/task/" + id + "/status");
    for (std::string line; std::getline(status, line);) {
      if (line.rfind("voluntary_ctxt_switches:", 0) == 0) total += std::atol(line.c_str() + line.find(':') + 1);
    }
  }
  if (tasks) closedir(tasks);
  return total;
}

// Runs `wait` (the program waiting for input, on this thread) while a
// watcher lets it settle, counts the other threads' sleeps over `ms` and
// then ends the wait with `end` (input through the platform). A wait that
// `end` does not end within 10 s fails the test process rather than hang it.
template <typename Wait, typename End>
long sleepsWhileWaiting(int ms, Wait wait, End end) {
  long counted = -1;
  std::atomic<bool> ended{false};
  std::thread watcher([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const long before = sleepsOfOtherThreads();
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    counted = sleepsOfOtherThreads() - before;
    end();
    for (int i = 0; i < 1000 && !ended; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (!ended) {
      std::fputs("the program's wait did not end on the platform's input\n", stderr);
      std::_Exit(1);
    }
  });
  wait();
  ended = true;
  watcher.join();
  return counted;
}
