// The 27 hook slots through which an open graphics mode takes over the
// console operations. Empty slots leave the runtime's own forms in place.
#pragma once
#include <cstdint>
#include <string>

namespace pel {

struct HookSlots {
  std::string (*readKey)();                                                   // 0
  int32_t (*waitKey)();                                                       // 1
  int32_t (*keyWaiting)();                                                    // 2
  void (*clear)(int32_t mode);                                                // 3
  int32_t (*color)(int32_t foreground, int32_t background, int32_t flags);    // 4
  int32_t (*cursor)(int32_t row, int32_t column);                             // 5
  int32_t (*textSize)(int32_t columns, int32_t rows);                         // 6
  int32_t (*getX)();                                                          // 7
  int32_t (*getY)();                                                          // 8
  void (*getXY)(int32_t* column, int32_t* row);                               // 9
  void (*getSize)(int32_t* columns, int32_t* rows);                           // 10
  void (*print)(const char* bytes, int32_t length, int32_t flags);            // 11
  void (*printWide)(const char16_t* text, int32_t length, int32_t flags);     // 12
  char* (*readString)(char* buffer, int32_t size);                            // 13
  int32_t (*keyHeld)(int32_t scanCode);                                       // 14
  int32_t (*getMouse)(int32_t* x, int32_t* y, int32_t* wheel, int32_t* buttons,
                      int32_t* clip);                                         // 15
  int32_t (*setMouse)(int32_t x, int32_t y, int32_t cursor, int32_t clip);    // 16
  int32_t (*portIn)(int32_t port);                                            // 17
  int32_t (*portOut)(int32_t port, int32_t value);                            // 18
  void (*viewUpdate)();                                                       // 19
  int32_t (*readLine)(const char* prompt, char* destination, int32_t size,
                      int32_t destinationType, int32_t question,
                      int32_t newline);                                       // 20
  int32_t (*readLineWide)(const char16_t* prompt, char16_t* destination,
                          int32_t size, int32_t question, int32_t newline);   // 21
  int32_t (*readCell)(int32_t column, int32_t row, int32_t colourFlag);       // 22
  int32_t (*sleep)(int32_t ms);                                               // 23
  int32_t (*query)();                                                         // 24
  int32_t (*copyPage)(int32_t source, int32_t destination);                   // 25
  int32_t (*setPages)(int32_t work, int32_t visible);                         // 26
};

constexpr int hookSlotCount = 27;
static_assert(sizeof(HookSlots) == hookSlotCount * sizeof(void (*)()));

// The process's slots; `hooks() = {}` empties all of them.
HookSlots& hooks();
// Number of filled slots (0 when no mode is open).
int filledHookSlots();

}  // namespace pel
