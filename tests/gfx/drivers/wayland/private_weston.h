// A private headless weston for a test: its own runtime folder and socket,
// software rendering, a black background and no panel, so a screenshot
// holds only the clients' pixels. Its screenshooter (offered with --debug)
// saves the whole output as a PNG.
#pragma once

#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <pellucet/pellucet.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include <dirent.h>

struct PrivateWeston {
  pid_t pid = -1;
  std::string runtimeDir, socket = "pellucet-test";

  bool start(int width = 1024, int height = 768, int scale = 1) {
    char folder[] = "/tmp/pellucet-weston-XXXXXX";
    if (!mkdtemp(folder)) return false;
    runtimeDir = folder;
    chmod(folder, 0700);
    const std::string config = runtimeDir + "/weston.ini";
    if (FILE* f = std::fopen(config.c_str(), "w")) {
      std::fputs("[core]\nidle-time=0\n[shell]\nbackground-color=0xff000000\npanel-position=none\nanimation=none\nclose-animation=none\nstartup-animation=none\nfocus-animation=none\n", f);
      std::fclose(f);
    }
    const std::string size = "--width=" + std::to_string(width), tall = "--height=" + std::to_string(height);
    const std::string socketArg = "--socket=" + socket, configArg = "--config=" + config;
    const std::string scaleArg = "--scale=" + std::to_string(scale);
    pid = fork();
    if (pid == 0) {
      prctl(PR_SET_PDEATHSIG, SIGTERM);
      setenv("XDG_RUNTIME_DIR", runtimeDir.c_str(), 1);
      if (std::freopen((runtimeDir + "/weston.log").c_str(), "w", stderr)) {
      }
      execlp("weston", "weston", "--backend=headless-backend.so", "--use-pixman", "--debug", "--idle-time=0",
             socketArg.c_str(), configArg.c_str(), size.c_str(), tall.c_str(), scaleArg.c_str(), nullptr);
      _exit(127);
    }
    // Ready once the socket is there.
    const std::string path = runtimeDir + "/" + socket;
    for (int tries = 0; tries < 200; ++tries) {
      struct stat s{};
      if (stat(path.c_str(), &s) == 0) {
        use();
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        return true;
      }
      if (waitpid(pid, nullptr, WNOHANG) == pid) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    stop();
    return false;
  }

  // This process's clients connect to it.
  void use() const {
    setenv("XDG_RUNTIME_DIR", runtimeDir.c_str(), 1);
    setenv("WAYLAND_DISPLAY", socket.c_str(), 1);
  }

  // The output as the compositor shows it, or an empty image.
  pellucet::Image screenshot() const {
    const std::string shots = runtimeDir + "/shots";
    std::system(("rm -rf '" + shots + "' && mkdir -p '" + shots + "'").c_str());
    const std::string command = "cd '" + shots + "' && XDG_RUNTIME_DIR='" + runtimeDir + "' WAYLAND_DISPLAY='" +
                                socket + "' weston-screenshooter >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) return {};
    DIR* folder = opendir(shots.c_str());
    std::string file;
    while (dirent* e = folder ? readdir(folder) : nullptr) {
      if (std::string(e->d_name).find(".png") != std::string::npos) file = shots + "/" + e->d_name;
    }
    if (folder) closedir(folder);
    return file.empty() ? pellucet::Image{} : pellucet::loadImage(file.c_str());
  }

  void stop() {
    if (pid > 0) {
      kill(pid, SIGTERM);
      waitpid(pid, nullptr, 0);
    }
    pid = -1;
    if (!runtimeDir.empty()) std::system(("rm -rf '" + runtimeDir + "'").c_str());
    runtimeDir.clear();
  }

  ~PrivateWeston() { stop(); }
};
