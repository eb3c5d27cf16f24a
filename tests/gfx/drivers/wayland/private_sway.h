// A private headless sway (wlroots) for a test. Sway will not run as root:
// as root the test runs it as an unprivileged user of its own, made on first
// use. It offers server-side window frames (xdg-decoration), screenshots
// (grim) and virtual keyboards (wtype); the test connects by the socket's
// full path.
#pragma once

#include <dirent.h>
#include <pwd.h>
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

struct PrivateSway {
  static constexpr const char* user = "pellucet-sway";
  pid_t pid = -1;
  std::string runtimeDir, socket, ipc;

  static bool run(const std::string& command) { return std::system(command.c_str()) == 0; }

  // `outputs` headless outputs of the same size, side by side (HEADLESS-1, HEADLESS-2, ...).
  bool start(int width = 1024, int height = 768, int outputs = 1) {
    const bool root = geteuid() == 0;
    if (root && !getpwnam(user) && !run(std::string("useradd -r -M -s /usr/sbin/nologin ") + user + " 2>/dev/null"))
      return false;
    const passwd* account = root ? getpwnam(user) : nullptr;
    if (root && !account) return false;
    char folder[] = "/tmp/pellucet-sway-XXXXXX";
    if (!mkdtemp(folder)) return false;
    runtimeDir = folder;
    if (account && chown(folder, account->pw_uid, account->pw_gid) != 0) return false;
    chmod(folder, 0700);
    const std::string config = runtimeDir + "/config";
    if (FILE* f = std::fopen(config.c_str(), "w")) {
      for (int i = 1; i <= outputs; ++i) std::fprintf(f, "output HEADLESS-%d resolution %dx%d\n", i, width, height);
      std::fprintf(f, "output * bg #000000 solid_color\nxwayland disable\n");
      std::fclose(f);
    }
    chmod(config.c_str(), 0644);
    pid = fork();
    if (pid == 0) {
      if (account && (setgid(account->pw_gid) != 0 || setuid(account->pw_uid) != 0)) _exit(126);
      prctl(PR_SET_PDEATHSIG, SIGTERM);  // after the user changed, which clears it
      setenv("XDG_RUNTIME_DIR", runtimeDir.c_str(), 1);
      setenv("WLR_BACKENDS", "headless", 1);
      setenv("WLR_LIBINPUT_NO_DEVICES", "1", 1);
      setenv("WLR_RENDERER", "pixman", 1);
      setenv("WLR_HEADLESS_OUTPUTS", std::to_string(outputs).c_str(), 1);
      setenv("HOME", runtimeDir.c_str(), 1);
      unsetenv("WAYLAND_DISPLAY");
      unsetenv("DISPLAY");
      if (std::freopen((runtimeDir + "/sway.log").c_str(), "w", stderr)) {
      }
      execlp("sway", "sway", "-c", config.c_str(), nullptr);
      _exit(127);
    }
    for (int tries = 0; tries < 200; ++tries) {
      if (DIR* d = opendir(runtimeDir.c_str())) {
        while (dirent* e = readdir(d)) {
          const std::string name = e->d_name;
          if (name.rfind("wayland-", 0) == 0 && name.find(".lock") == std::string::npos) socket = runtimeDir + "/" + name;
          if (name.rfind("sway-ipc.", 0) == 0) ipc = runtimeDir + "/" + name;
        }
        closedir(d);
      }
      if (!socket.empty() && !ipc.empty()) {
        use();
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        return true;
      }
      if (waitpid(pid, nullptr, WNOHANG) == pid) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    stop();
    return false;
  }

  // A command through sway's IPC; false when it failed.
  bool command(const std::string& text) const { return run(tool("swaymsg '" + text + "' >/dev/null 2>&1")); }

  void use() const { setenv("WAYLAND_DISPLAY", socket.c_str(), 1); }

  // A client tool run against this compositor (grim, wtype, swaymsg).
  std::string tool(const std::string& arguments) const {
    return "WAYLAND_DISPLAY='" + socket + "' SWAYSOCK='" + ipc + "' " + arguments;
  }

  // The whole layout, or one output at its own resolution.
  pellucet::Image screenshot(const std::string& output = "") const {
    const std::string file = runtimeDir + "/shot.png";
    std::remove(file.c_str());
    const std::string only = output.empty() ? "" : "-o '" + output + "' ";
    if (!run(tool("grim " + only + "'" + file + "' 2>/dev/null"))) return {};
    return pellucet::loadImage(file.c_str());
  }

  // What swaymsg prints for the window tree (or another of its -t queries).
  std::string tree(const char* query = "get_tree") const {
    std::string out;
    if (FILE* p = popen(tool(std::string("swaymsg -t ") + query + " 2>/dev/null").c_str(), "r")) {
      char buffer[4096];
      while (std::size_t n = std::fread(buffer, 1, sizeof buffer, p)) out.append(buffer, n);
      pclose(p);
    }
    return out;
  }

  void stop() {
    if (pid > 0) {
      kill(pid, SIGTERM);
      waitpid(pid, nullptr, 0);
    }
    pid = -1;
    if (!runtimeDir.empty()) run("rm -rf '" + runtimeDir + "'");
    runtimeDir.clear();
    socket.clear();
    ipc.clear();
  }

  ~PrivateSway() { stop(); }
};
