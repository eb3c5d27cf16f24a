#include <cstdio>

#include "demo/console_echo.h"

int main() {
  const std::string transcript = pel::consoleEcho();
  if (transcript.empty()) {
    std::fputs("console-echo: no display back end could be opened (set KELGFX=null to run without one)\n", stderr);
    return 1;
  }
  std::fputs(transcript.c_str(), stdout);
  return 0;
}
