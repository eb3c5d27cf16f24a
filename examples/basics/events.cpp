// An event loop: prints every event with its fields until Escape or the
// window's close button.
//   events [seconds]   (no seconds: no time limit)
#include <pellucet/pellucet.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  const double limit = argc > 1 ? std::atof(argv[1]) : 0.0;
  if (!pellucet::openScreen(320, 240, 32, 1)) {
    std::fprintf(stderr, "events: %s\n", pellucet::lastFailure());
    return 1;
  }
  pellucet::text(8, 8, "Type, click, scroll; Escape ends", 0xFFFFFFFF);
  pellucet::flip();
  const double start = pellucet::seconds();
  using pellucet::EventType;
  pellucet::Event e;
  while (limit <= 0 || pellucet::seconds() - start < limit) {
    if (!pellucet::waitEvent(e, 50)) continue;
    switch (e.type) {
      case EventType::KeyPress:
      case EventType::KeyRepeat:
      case EventType::KeyRelease:
        std::printf("key %d: scan code 0x%02X, character %d, modifiers %u\n", static_cast<int>(e.type), e.scanCode,
                    e.character, e.modifiers);
        if (e.scanCode == pellucet::scan::escape) return 0;  // the screen closes at exit
        break;
      case EventType::MouseMove: std::printf("move to %d, %d (by %d, %d)\n", e.x, e.y, e.dx, e.dy); break;
      case EventType::ButtonPress:
        std::printf("button %d pressed (%d clicks) at %d, %d\n", e.button, e.clicks, e.x, e.y);
        break;
      case EventType::ButtonRelease: std::printf("button %d let go at %d, %d\n", e.button, e.x, e.y); break;
      case EventType::Wheel: std::printf("wheel %+d to %d at %d, %d\n", e.step, e.wheel, e.x, e.y); break;
      case EventType::FocusGained: std::puts("focus gained"); break;
      case EventType::FocusLost: std::puts("focus lost"); break;
      case EventType::Close: std::puts("close"); return 0;
      default: std::printf("event %d\n", static_cast<int>(e.type)); break;
    }
  }
  return 0;
}
