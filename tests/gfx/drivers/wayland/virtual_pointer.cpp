// A pointer for the tests on wlroots compositors (sway): moves, clicks and
// wheel notches sent through the compositor's virtual pointer, as a mouse
// would send them. One pointer for the tool's life (the seat has a pointer
// only while it lives), taking a command a line on standard input:
//   move X Y WIDTH HEIGHT   (X, Y on a layout that size)
//   click BUTTON COUNT      (1 left, 2 right, 3 middle)
//   scroll NOTCHES          (positive away from the user)
#include <linux/input-event-codes.h>
#include <wayland-client.h>

#include <chrono>
#include <iostream>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>

#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"

namespace {

wl_seat* seat = nullptr;
zwlr_virtual_pointer_manager_v1* manager = nullptr;

void global(void*, wl_registry* registry, uint32_t name, const char* interface, uint32_t) {
  const std::string_view is(interface);
  if (is == wl_seat_interface.name && !seat) {
    seat = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
  } else if (is == zwlr_virtual_pointer_manager_v1_interface.name) {
    manager = static_cast<zwlr_virtual_pointer_manager_v1*>(
        wl_registry_bind(registry, name, &zwlr_virtual_pointer_manager_v1_interface, 1));
  }
}
const wl_registry_listener registryListener = {.global = global, .global_remove = [](void*, wl_registry*, uint32_t) {}};

uint32_t now() {
  using namespace std::chrono;
  return static_cast<uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

}  // namespace

// One command; false for one not understood.
bool run(zwlr_virtual_pointer_v1* pointer, wl_display* display, const std::string& line) {
  std::istringstream in(line);
  std::string command;
  in >> command;
  if (command == "move") {
    uint32_t x = 0, y = 0, width = 0, height = 0;
    if (!(in >> x >> y >> width >> height)) return false;
    zwlr_virtual_pointer_v1_motion_absolute(pointer, now(), x, y, width, height);
    zwlr_virtual_pointer_v1_frame(pointer);
  } else if (command == "click") {
    int which = 0, count = 0;
    if (!(in >> which >> count)) return false;
    const uint32_t button = which == 2 ? BTN_RIGHT : which == 3 ? BTN_MIDDLE : BTN_LEFT;
    for (int i = 0; i < count; ++i) {
      for (uint32_t state : {WL_POINTER_BUTTON_STATE_PRESSED, WL_POINTER_BUTTON_STATE_RELEASED}) {
        zwlr_virtual_pointer_v1_button(pointer, now(), button, state);
        zwlr_virtual_pointer_v1_frame(pointer);
        wl_display_flush(display);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
    }
  } else if (command == "scroll") {
    // A wheel's notch: 15 units and one discrete step, down being positive.
    int notches = 0;
    if (!(in >> notches)) return false;
    for (int i = 0; i < std::abs(notches); ++i) {
      const int step = notches > 0 ? -1 : 1;
      zwlr_virtual_pointer_v1_axis_source(pointer, WL_POINTER_AXIS_SOURCE_WHEEL);
      zwlr_virtual_pointer_v1_axis_discrete(pointer, now(), WL_POINTER_AXIS_VERTICAL_SCROLL, wl_fixed_from_int(15 * step),
                                            step);
      zwlr_virtual_pointer_v1_frame(pointer);
      wl_display_flush(display);
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  } else {
    return false;
  }
  return wl_display_roundtrip(display) >= 0;
}

int main() {
  wl_display* display = wl_display_connect(nullptr);
  if (!display) return 1;
  wl_registry* registry = wl_display_get_registry(display);
  wl_registry_add_listener(registry, &registryListener, nullptr);
  wl_display_roundtrip(display);
  if (!manager) {
    std::fprintf(stderr, "pel-virtual-pointer: the compositor offers no virtual pointer\n");
    return 1;
  }
  zwlr_virtual_pointer_v1* pointer = zwlr_virtual_pointer_manager_v1_create_virtual_pointer(manager, seat);
  wl_display_roundtrip(display);
  int result = 0;
  for (std::string line; std::getline(std::cin, line);) {
    if (!run(pointer, display, line)) {
      std::fprintf(stderr, "pel-virtual-pointer: %s failed\n", line.c_str());
      result = 1;
    }
  }
  zwlr_virtual_pointer_v1_destroy(pointer);
  wl_display_roundtrip(display);
  wl_display_disconnect(display);
  return result;
}
