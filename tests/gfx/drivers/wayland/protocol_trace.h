// The client's side of the Wayland protocol as libwayland traces it
// (WAYLAND_DEBUG=client, which goes to standard error): kept in a file while
// a test runs, read back as what the compositor was sent and told. Anything
// else written to standard error meanwhile is passed on at the end.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "gfx/scale.h"

struct ProtocolTrace {
  std::string file;
  int savedStderr = -1;
  std::streamoff watchedFrom = 0;

  // Before the client connects: libwayland reads the variable then.
  bool start(const std::string& folder) {
    file = folder + "/client-trace";
    const int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0) return false;
    std::fflush(stderr);
    savedStderr = dup(2);
    dup2(fd, 2);
    close(fd);
    setenv("WAYLAND_DEBUG", "client", 1);
    watchedFrom = 0;
    return true;
  }

  void stop() {
    unsetenv("WAYLAND_DEBUG");
    if (savedStderr < 0) return;
    std::fflush(stderr);
    dup2(savedStderr, 2);
    close(savedStderr);
    savedStderr = -1;
    std::ifstream trace(file);
    for (std::string line; std::getline(trace, line);) {
      if (!traced(line)) std::fprintf(stderr, "%s\n", line.c_str());
    }
  }

  static bool traced(const std::string& line) {
    return line.size() > 1 && line[0] == '[' && line.find("] ") != std::string::npos;
  }

  // The traced lines from `from` on (0: all).
  std::vector<std::string> lines(std::streamoff from) const {
    std::fflush(stderr);
    std::ifstream trace(file);
    trace.seekg(from);
    std::vector<std::string> out;
    for (std::string line; std::getline(trace, line);) {
      if (traced(line)) out.push_back(line);
    }
    return out;
  }

  // From here on is what `sent` and `commits` read.
  void watch() {
    std::fflush(stderr);
    std::ifstream trace(file, std::ios::ate);
    watchedFrom = trace.tellg();
  }

  // The numbers between the parentheses after `call` in a traced line.
  static std::vector<long> arguments(const std::string& line, const std::string& call) {
    std::vector<long> out;
    std::size_t at = line.find(call + "(");
    if (at == std::string::npos) return out;
    std::istringstream in(line.substr(at + call.size() + 1));
    for (std::string part; std::getline(in, part, ',');) {
      const std::size_t digit = part.find_first_of("-0123456789");
      if (digit != std::string::npos) out.push_back(std::atol(part.c_str() + digit));
    }
    return out;
  }

  static bool sends(const std::string& line, const char* request) {
    return line.find("-> wl_surface@") != std::string::npos && line.find(request) != std::string::npos;
  }

  // The surface damage sent since `watch`, in buffer rows, joined; and the
  // rectangles one by one.
  pel::RowSpan sent(std::vector<std::vector<long>>* rectangles = nullptr) const {
    pel::RowSpan rows{};
    for (const std::string& line : lines(watchedFrom)) {
      if (line.find("-> wl_surface@") == std::string::npos) continue;
      const std::vector<long> a = arguments(line, "damage_buffer");
      if (a.size() != 4) continue;
      rows = pel::joined(rows, {static_cast<int32_t>(a[1]), static_cast<int32_t>(a[1] + a[3])});
      if (rectangles) rectangles->push_back(a);
    }
    return rows;
  }

  // Surface commits since `watch` that carried a buffer.
  int frames() const {
    int count = 0;
    bool attached = false;
    for (const std::string& line : lines(watchedFrom)) {
      if (sends(line, ".attach(")) attached = true;
      if (sends(line, ".commit()") && attached) {
        ++count;
        attached = false;
      }
    }
    return count;
  }

  // The rules of the protocol a client can break unseen: a buffer attached
  // again before the compositor released it, a ping left unanswered, and a
  // frame committed before the frame callback of the one before came (the
  // compositor's pace). In words, "" for none.
  std::string faults() const {
    std::string out;
    std::map<std::string, bool> held;  // by "wl_buffer@N"
    std::map<long, bool> pinged;
    // By surface: the callback asked for since its last commit, the one of
    // the frame committed last until it is done, and an attach since.
    std::map<std::string, std::string> asked, awaited;
    std::map<std::string, bool> attached;
    for (const std::string& line : lines(0)) {
      const std::size_t buffer = line.find("wl_buffer@");
      if (line.find(".attach(wl_buffer@") != std::string::npos) {
        const std::string id = line.substr(buffer, line.find_first_of(",)", buffer) - buffer);
        if (held[id]) out += id + " attached while the compositor held it; ";
        held[id] = true;
      } else if (buffer != std::string::npos && (line.find(".release()") != std::string::npos ||
                                                line.find(".destroy()") != std::string::npos)) {
        // Released, or gone (a later buffer may take its id).
        held[line.substr(buffer, line.find('.', buffer) - buffer)] = false;
      }
      const std::vector<long> ping = arguments(line, ".ping"), pong = arguments(line, ".pong");
      if (!ping.empty() && line.find("-> ") == std::string::npos) pinged[ping[0]] = true;
      if (!pong.empty()) pinged.erase(pong[0]);

      const std::size_t surfaceAt = line.find("-> wl_surface@");
      if (surfaceAt != std::string::npos) {
        const std::size_t from = surfaceAt + 3;
        const std::string surface = line.substr(from, line.find('.', from) - from);
        if (line.find(".attach(") != std::string::npos) attached[surface] = true;
        const std::size_t callback = line.find("wl_callback@");
        if (line.find(".frame(") != std::string::npos && callback != std::string::npos)
          asked[surface] = line.substr(callback, line.find_first_of(",)", callback) - callback);
        if (line.find(".commit()") != std::string::npos) {
          if (attached[surface] && awaited.count(surface))
            out += surface + " committed a frame before " + awaited[surface] + " was done; ";
          if (asked.count(surface)) awaited[surface] = asked[surface];
          asked.erase(surface);
          attached[surface] = false;
        }
        if (line.find(".destroy()") != std::string::npos) {
          asked.erase(surface);
          awaited.erase(surface);
          attached.erase(surface);
        }
      } else if (line.find(".done(") != std::string::npos && line.find("wl_callback@") != std::string::npos) {
        const std::size_t at = line.find("wl_callback@");
        const std::string callback = line.substr(at, line.find('.', at) - at);
        for (auto i = awaited.begin(); i != awaited.end();) i = i->second == callback ? awaited.erase(i) : std::next(i);
      }
    }
    for (const auto& [serial, unanswered] : pinged) out += "ping " + std::to_string(serial) + " unanswered; ";
    return out;
  }
};
