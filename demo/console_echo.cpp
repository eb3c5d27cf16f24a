#include "console_echo.h"

#include "gfx/input.h"
#include "gfx/mode.h"
#include "runtime/console.h"
#include "runtime/keys.h"

namespace pel {
namespace {

void say(std::string& transcript, const std::string& text) {
  consolePrint(text.data(), static_cast<int32_t>(text.size()), 0);
  transcript += text;
}

}  // namespace

std::string consoleEcho() {
  if (openScreenBySize(320, 200, 32, 1, 0, 0) != 0) return {};
  std::string transcript;
  say(transcript, "Pellucet console\n");
  char name[64];
  if (consoleReadLine("Your name", name, sizeof name, 0, 1, 1) != 0) name[0] = '\0';
  say(transcript, "Hello, " + std::string(name) + "!\n");
  say(transcript, "Keys, Escape ends:\n");
  for (;;) {
    EventRecord e;
    while (pollEvent(e)) {
      if (e.type == KeyPress || e.type == KeyRelease || e.type == KeyRepeat) {
        const char* kind = e.type == KeyPress ? "press" : e.type == KeyRelease ? "release" : "repeat";
        say(transcript, std::string(kind) + " scan " + std::to_string(e.a) + " char " + std::to_string(e.b) + "\n");
      }
    }
    const std::string key = readKey();
    if (key == "\x1b") break;
    sleepMs(10);
  }
  closeScreen();
  return transcript;
}

}  // namespace pel
