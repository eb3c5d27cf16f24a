// A private X server for a test or benchmark. Xvfb picks a free display
// number itself (-displayfd) and reports it once it accepts connections, so
// servers started side by side never race for one number.
#pragma once

#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

struct PrivateXvfb {
  pid_t pid = -1;
  std::string display;  // ":N" once started

  bool start(const char* screen = "1024x768x24") {
    int fds[2];
    if (pipe(fds) != 0) return false;
    pid = fork();
    if (pid == 0) {
      prctl(PR_SET_PDEATHSIG, SIGTERM);  // no server outlives a test that ends abruptly
      close(fds[0]);
      const std::string fd = std::to_string(fds[1]);
      execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen, "-nolisten", "tcp", nullptr);
      _exit(127);
    }
    close(fds[1]);
    std::string number;
    pollfd ready{fds[0], POLLIN, 0};
    char c = 0;
    while (pid > 0 && poll(&ready, 1, 20000) > 0 && read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    close(fds[0]);
    if (number.empty()) {
      stop();
      return false;
    }
    display = ":" + number;
    return true;
  }

  void stop() {
    if (pid > 0) {
      kill(pid, SIGTERM);
      waitpid(pid, nullptr, 0);
    }
    pid = -1;
  }

  ~PrivateXvfb() { stop(); }
};
