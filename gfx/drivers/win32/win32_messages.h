// The window procedure's helpers that the layer's life cycle also calls.
#pragma once

#include <windows.h>

#include <cstdint>

namespace pel::win32 {

// Arms the report of the pointer leaving the client area: TrackMouseEvent,
// or where the system lacks it a 100 ms check of the pointer's place.
void trackMouseLeave();
// The window of the message being handled, else the record's window. While
// CreateWindowExW runs, the record has no window yet, but the messages it
// delivers (activation under the pointer) already act on the new one.
HWND messageWindow();
// Forgets the keys held and half a character typed (a new window layer).
void resetKeyMessages();

}  // namespace pel::win32
