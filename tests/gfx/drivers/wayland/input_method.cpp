// A stand-in input method for the Wayland tests: on a compositor with the
// input-method v2 protocol it waits until a text field (a client's enabled
// text input) has the seat's focus, commits the text given, and ends.
//   pel-input-method TEXT   (exit 0 when committed, 1 otherwise)
// Its two interfaces are described here by hand: their protocol file is
// wlroots' own and not installed.
#include <poll.h>
#include <wayland-client.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>

namespace {

extern const wl_interface inputMethodInterface;

const wl_interface* managerTypes[] = {&wl_seat_interface, &inputMethodInterface};
const wl_message managerRequests[] = {{"get_input_method", "on", managerTypes}, {"destroy", "", nullptr}};
const wl_interface managerInterface = {"zwp_input_method_manager_v2", 1, 2, managerRequests, 0, nullptr};

const wl_interface* untyped[] = {nullptr, nullptr, nullptr};
const wl_message methodRequests[] = {
    {"commit_string", "s", untyped},        {"set_preedit_string", "sii", untyped},
    {"delete_surrounding_text", "uu", untyped}, {"commit", "u", untyped},
    {"get_input_popup_surface", "no", untyped}, {"grab_keyboard", "n", untyped},
    {"destroy", "", untyped}};
const wl_message methodEvents[] = {{"activate", "", untyped},      {"deactivate", "", untyped},
                                   {"surrounding_text", "suu", untyped}, {"text_change_cause", "u", untyped},
                                   {"content_type", "uu", untyped}, {"done", "", untyped},
                                   {"unavailable", "", untyped}};
const wl_interface inputMethodInterface = {"zwp_input_method_v2", 1, 7, methodRequests, 7, methodEvents};
constexpr uint32_t commitString = 0, commit = 3, destroy = 6;

struct State {
  wl_seat* seat = nullptr;
  wl_proxy* manager = nullptr;
  bool active = false, unavailable = false;
  uint32_t dones = 0;
  bool activeAtDone = false;
};

void global(void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t) {
  auto* s = static_cast<State*>(data);
  if (std::string_view(interface) == wl_seat_interface.name && !s->seat) {
    s->seat = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
  } else if (std::string_view(interface) == managerInterface.name) {
    s->manager = static_cast<wl_proxy*>(wl_registry_bind(registry, name, &managerInterface, 1));
  }
}
const wl_registry_listener registryListener = {global, [](void*, wl_registry*, uint32_t) {}};

struct MethodListener {
  void (*activate)(void*, wl_proxy*);
  void (*deactivate)(void*, wl_proxy*);
  void (*surroundingText)(void*, wl_proxy*, const char*, uint32_t, uint32_t);
  void (*textChangeCause)(void*, wl_proxy*, uint32_t);
  void (*contentType)(void*, wl_proxy*, uint32_t, uint32_t);
  void (*done)(void*, wl_proxy*);
  void (*unavailable)(void*, wl_proxy*);
};
const MethodListener methodListener = {
    [](void* d, wl_proxy*) { static_cast<State*>(d)->active = true; },
    [](void* d, wl_proxy*) { static_cast<State*>(d)->active = false; },
    [](void*, wl_proxy*, const char*, uint32_t, uint32_t) {},
    [](void*, wl_proxy*, uint32_t) {},
    [](void*, wl_proxy*, uint32_t, uint32_t) {},
    [](void* d, wl_proxy*) {
      auto* s = static_cast<State*>(d);
      ++s->dones;
      s->activeAtDone = s->active;
    },
    [](void* d, wl_proxy*) { static_cast<State*>(d)->unavailable = true; },
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return std::fputs("usage: pel-input-method TEXT\n", stderr), 2;
  wl_display* display = wl_display_connect(nullptr);
  if (!display) return std::fputs("pel-input-method: no compositor\n", stderr), 1;
  State s;
  wl_registry* registry = wl_display_get_registry(display);
  wl_registry_add_listener(registry, &registryListener, &s);
  wl_display_roundtrip(display);
  if (!s.seat || !s.manager) return std::fputs("pel-input-method: no seat or input methods\n", stderr), 1;
  auto* method = wl_proxy_marshal_flags(s.manager, 0, &inputMethodInterface, 1, 0, s.seat, nullptr);
  wl_proxy_add_listener(method, reinterpret_cast<void (**)(void)>(const_cast<MethodListener*>(&methodListener)), &s);
  // Until a text field is active on the seat, 5 s at most.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!s.activeAtDone && !s.unavailable && std::chrono::steady_clock::now() < deadline) {
    wl_display_flush(display);
    pollfd p{wl_display_get_fd(display), POLLIN, 0};
    if (poll(&p, 1, 100) > 0 && wl_display_dispatch(display) < 0) break;
    wl_display_dispatch_pending(display);
  }
  const bool ready = s.activeAtDone && !s.unavailable;
  if (ready) {
    wl_proxy_marshal_flags(method, commitString, nullptr, 1, 0, argv[1]);
    wl_proxy_marshal_flags(method, commit, nullptr, 1, 0, s.dones);
  }
  wl_proxy_marshal_flags(method, destroy, nullptr, 1, WL_MARSHAL_FLAG_DESTROY);
  wl_proxy_marshal_flags(s.manager, 1, nullptr, 1, WL_MARSHAL_FLAG_DESTROY);
  wl_display_roundtrip(display);
  wl_proxy_destroy(reinterpret_cast<wl_proxy*>(s.seat));
  wl_registry_destroy(registry);
  wl_display_disconnect(display);
  if (!ready) std::fputs("pel-input-method: no text field became active\n", stderr);
  return ready ? 0 : 1;
}
