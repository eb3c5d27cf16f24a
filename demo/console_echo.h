// An example of the graphics console: greets, reads a name, then echoes key
// events until Escape. Runs on whatever back end opens (KELGFX=null: none).
#pragma once
#include <string>

namespace pel {

// Returns what it printed, or an empty string when no mode could be opened.
std::string consoleEcho();

}  // namespace pel
