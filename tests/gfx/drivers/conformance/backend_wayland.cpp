// "Wayland" on a private headless sway: pixels from the compositor's own
// screenshot (grim) at the place sway's window tree gives the client area,
// keys typed on a virtual keyboard (wtype), the close request and the title
// through sway's IPC.
#include <pellucet/pellucet.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <thread>

#include "../wayland/private_sway.h"
#include "../wayland/protocol_trace.h"
#include "conformance.h"
#include "gfx/drivers/wayland/wayland_testing.h"
#include "gfx/scale.h"

namespace pel::conformance {
namespace {

PrivateSway sway;
ProtocolTrace trace;

std::string start() {
  if (std::system("command -v sway grim wtype swaymsg >/dev/null 2>&1") != 0) return "no sway, grim, wtype or swaymsg";
  if (!sway.start()) return "sway did not start";
  unsetenv("DISPLAY");  // a framed window would otherwise be left to X11
  return trace.start(sway.runtimeDir) ? "" : "no trace file";
}

void closePointer();

void stop() {
  closePointer();
  trace.stop();
  sway.stop();
}

void watch() { trace.watch(); }

// The surface damage the client sent since `watch`, in buffer rows.
bool sentRows(int32_t& first, int32_t& end) {
  const RowSpan sent = trace.sent();
  first = sent.first;
  end = sent.end;
  return true;
}

std::string protocolFaults() { return trace.faults(); }

// sway sets the keyboards' repeat from its configuration; wtype holds the key.
bool holdKey(const char* name, int ms, int delay, int rate) {
  for (const std::string& setting : {"repeat_delay " + std::to_string(delay), "repeat_rate " + std::to_string(rate)}) {
    if (std::system(sway.tool("swaymsg 'input type:keyboard " + setting + "' >/dev/null 2>&1").c_str()) != 0)
      return false;
  }
  const std::string hold = "wtype -k Shift_L -s 100 -P " + std::string(name) + " -s " + std::to_string(ms) + " -p " +
                           name + " 2>/dev/null";
  return std::system(sway.tool(hold).c_str()) == 0;
}

// Until the window thread has presented what is marked and the compositor
// has had frames to show it.
void settle() {
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  for (int i = 0; i < 3; ++i) {
    // The thread sleeps while it has nothing to do: each pass after a wake.
    const int64_t passes = waylandPasses();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    for (int64_t pass = 1; pass <= 2; ++pass) {
      waylandWake();
      while (waylandPasses() < passes + pass && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    pellucet::waitVsync();
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
}

// The window's app_id: the program's name.
std::string appId() { return program_invocation_short_name; }

// The members of the JSON object holding the window's app_id in sway's
// window tree: the text of one member's value, found at the object's own
// level.
struct Node {
  std::string_view text;  // the object, braces included
  std::string_view member(std::string_view key) const {
    int depth = 0;
    bool quoted = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
      const char c = text[i];
      if (quoted) {
        if (c == '\\') ++i;
        else if (c == '"') quoted = false;
        continue;
      }
      if (c == '{' || c == '[') ++depth;
      if (c == '}' || c == ']') --depth;
      if (c != '"') continue;
      if (depth == 1 && text.compare(i + 1, key.size() + 2, std::string(key) + "\":") == 0) {
        std::size_t from = i + key.size() + 3;
        while (from < text.size() && text[from] == ' ') ++from;
        return text.substr(from);
      }
      quoted = true;
    }
    return {};
  }
  int number(std::string_view object, std::string_view key) const {
    const Node inner{object};
    return std::atoi(std::string(inner.member(key).substr(0, 12)).c_str());
  }
};

bool ourNode(const std::string& tree, Node& node) {
  const std::size_t at = tree.find("\"app_id\": \"" + appId() + "\"");
  if (at == std::string::npos) return false;
  // The object's start: the brace that opens the level app_id is on.
  int depth = 0;
  std::size_t open = at;
  while (open > 0) {
    --open;
    if (tree[open] == '}') ++depth;
    if (tree[open] == '{' && depth-- == 0) break;
  }
  depth = 0;
  std::size_t close = open;
  for (; close < tree.size(); ++close) {
    if (tree[close] == '{') ++depth;
    if (tree[close] == '}' && --depth == 0) break;
  }
  node.text = std::string_view(tree).substr(open, close - open + 1);
  return true;
}

// The client area on the output, from sway's window tree.
bool clientArea(int& left, int& top, int32_t& width, int32_t& height) {
  const std::string tree = sway.tree();
  Node node;
  if (!ourNode(tree, node)) return false;
  const std::string_view rect = node.member("rect"), inner = node.member("window_rect");
  left = node.number(rect, "x") + node.number(inner, "x");
  top = node.number(rect, "y") + node.number(inner, "y");
  width = node.number(inner, "width");
  height = node.number(inner, "height");
  return true;
}

std::vector<uint32_t> grab(int32_t& width, int32_t& height) {
  int left = 0, top = 0;
  if (!clientArea(left, top, width, height)) return {};
  const pellucet::Image shot = sway.screenshot();
  if (width < 1 || height < 1 || left + width > shot.width() || top + height > shot.height()) return {};
  std::vector<uint32_t> pixels(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) pixels[static_cast<std::size_t>(y) * width + x] = shot.pixel(left + x, top + y) & 0xFFFFFF;
  }
  return pixels;
}

// One virtual keyboard for the whole list. Its first key is pressed before
// the client has the keyboard (it arrives as held at the focus): a Shift
// tap goes first.
bool type(const std::vector<Key>& keys) {
  std::string command = "wtype -k Shift_L -s 100";
  const char* names[] = {"shift", "ctrl", "alt"};
  for (const Key& k : keys) {
    for (int i = 0; i < 3; ++i) {
      if (k.modifiers & (1u << i)) command += std::string(" -M ") + names[i];
    }
    // The virtual keyboard's keymap has one level: a shifted letter or digit
    // is typed as its own character.
    const std::string name = k.name;
    if ((k.modifiers & shift) && name.size() == 1 && name[0] >= 'a' && name[0] <= 'z') {
      command += " " + std::string(1, static_cast<char>(name[0] - 'a' + 'A'));
    } else if ((k.modifiers & shift) && name.size() == 1 && name[0] >= '0' && name[0] <= '9') {
      command += " '" + std::string(1, ")!@#$%^&*("[name[0] - '0']) + "'";
    } else {
      command += " -k " + name;
    }
    for (int i = 2; i >= 0; --i) {
      if (k.modifiers & (1u << i)) command += std::string(" -m ") + names[i];
    }
  }
  return std::system(sway.tool(command + " 2>/dev/null").c_str()) == 0;
}

#ifdef PEL_INPUT_METHOD
// sway relays the input method's commit to the focused text input.
bool commitText(const char* text) {
  return std::system(sway.tool("WAYLAND_DEBUG= " + std::string(PEL_INPUT_METHOD) + " '" + text + "'").c_str()) == 0;
}
#endif

#ifdef PEL_VIRTUAL_POINTER
// One virtual pointer for the test (the seat has a pointer only while it
// lives), a command a line; each given time to arrive.
FILE* pointerTool = nullptr;

bool pointer(const std::string& command) {
  if (!pointerTool) {
    pointerTool = popen(sway.tool("WAYLAND_DEBUG= " + std::string(PEL_VIRTUAL_POINTER)).c_str(), "w");
    if (!pointerTool) return false;
    // The window takes the seat's new pointer first.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
  }
  const bool sent = std::fprintf(pointerTool, "%s\n", command.c_str()) > 0 && std::fflush(pointerTool) == 0;
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  return sent;
}
#endif

void closePointer() {
#ifdef PEL_VIRTUAL_POINTER
  if (pointerTool) pclose(pointerTool);
  pointerTool = nullptr;
#endif
}

#ifdef PEL_VIRTUAL_POINTER

// Absolute moves on the output's own size (PrivateSway's 1024 x 768).
bool pointTo(int32_t x, int32_t y) {
  int left = 0, top = 0;
  int32_t width = 0, height = 0;
  return clientArea(left, top, width, height) &&
         pointer("move " + std::to_string(left + x) + " " + std::to_string(top + y) + " 1024 768");
}
bool click(int32_t button, int32_t count) { return pointer("click " + std::to_string(button) + " " + std::to_string(count)); }
bool scroll(int32_t notches) { return pointer("scroll " + std::to_string(notches)); }
#endif

// sway sizes tiled windows itself; a floating one takes the size asked.
bool resize(int32_t width, int32_t height) {
  return std::system(sway.tool("swaymsg '[app_id=\"" + appId() + "\"] resize set " + std::to_string(width) + " " +
                               std::to_string(height) + "' >/dev/null 2>&1").c_str()) == 0;
}

bool requestClose() {
  return std::system(sway.tool("swaymsg '[app_id=\"" + appId() + "\"] kill' >/dev/null 2>&1").c_str()) == 0;
}

bool title(std::string& title) {
  const std::string tree = sway.tree();
  Node node;
  if (!ourNode(tree, node)) return false;
  const std::string_view name = node.member("name");
  if (name.size() < 2 || name[0] != '"') return false;
  title = std::string(name.substr(1, name.find('"', 1) - 1));
  return true;
}

}  // namespace

const Backend waylandBackend = {
    .name = "Wayland",
    .driver = "Wayland",
    .flags = 0,
    .start = start,
    .stop = stop,
    .settle = settle,
    .grab = grab,
    .type = type,
    .requestClose = requestClose,
    .title = title,
    .noScreen = nullptr,
    .noInput = nullptr,
    .watch = watch,
    .sentRows = sentRows,
    .protocolFaults = protocolFaults,
    .holdKey = holdKey,
#ifdef PEL_VIRTUAL_POINTER
    .pointTo = pointTo,
    .click = click,
    .scroll = scroll,
#else
    .noPointer = "the build has no virtual pointer tool (libwayland-client's headers are missing)",
#endif
    .resize = resize,
    // wtype puts any key symbol ("U20AC") on a key of its keymap.
    .anyCharacter = true,
#ifdef PEL_INPUT_METHOD
    .commitText = commitText,
#endif
};

}  // namespace pel::conformance
