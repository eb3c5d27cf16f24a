// Input stores of the open mode: the event records and the event queue's lock.
#pragma once
#include <cstdint>

namespace pel {

// The runtime's view of an event: a type and four words whose meaning
// depends on the type.
struct EventRecord {
  int32_t type;
  int32_t a, b, c, d;
};
static_assert(sizeof(EventRecord) == 20);

// How the runtime's reader and the public layer each see a key event.
enum class KeyReport : uint8_t {
  everyone,         // both, as posted
  publicOnly,       // Alt, F10 and the close keys: the runtime's rules report none of them
  systemPress,      // a key pressed with Alt: a KeyRelease to the runtime, a press to the public layer
  unpairedRelease,  // a release whose press the layer took for itself (Alt+Enter): the runtime's alone
};

struct KeyDetail {
  int32_t scanCode;   // the runtime's
  int32_t character;  // the key code when it is 0 to 255, else 0
  KeyReport report;
  int32_t place;     // the key's place on the keyboard, for the public layer: its scan code or a code of its own
  uint32_t unicode;  // the character it typed, 0 for none
};

struct PointerDetail {
  int32_t x, y;    // client pixels, as unsigned 16-bit values
  int32_t dx, dy;  // the pointer's movement on the screen since the last move
};

struct WheelDetail {
  int32_t position;  // the wheel's counter after the step
  int32_t step;      // +1 or -1; 0 where the poster did not say
};

// A window's client area and the picture's place in it, in window pixels.
struct WindowArea {
  int32_t width, height;
  int32_t pictureX, pictureY, pictureWidth, pictureHeight;
};

// Where the pointer was and which modifiers (keymod) were held when the
// event happened; unknown for records other code posts bare.
struct EventMoment {
  bool known;
  int32_t x, y;
  int32_t modifiers;
  int32_t buttons;  // the mouse buttons held, after this event's own
};

// An event as the window layer posts it, each field named for what it is.
// Only the fields of its type mean anything.
struct WindowEvent {
  int32_t type;  // EventType
  KeyDetail key;
  PointerDetail pointer;  // moves and enters
  int32_t buttons;        // button events: the button bit(s) that changed
  WheelDetail wheel;
  char text[32];          // TextInput: UTF-8, ends in a NUL
  WindowArea area;        // Resize
  EventMoment moment;
  // A record posted bare by other code keeps its words for the runtime.
  bool bare;
  EventRecord asPosted;
};

constexpr int eventQueueSlots = 128;

// The event queue's lock: a mutex used as a binary semaphore.
void* createEventLock();  // null when it cannot be made
void destroyEventLock(void* lock);
void acquireEventLock(void* lock);
void releaseEventLock(void* lock);

}  // namespace pel
