// Helpers of the X11 and GLX tests. Include after the runtime's headers.
#pragma once
#include <X11/Xlib.h>

// The window manager's close request (WM_DELETE_WINDOW), sent to `w`.
inline void sendCloseRequest(Display* d, Window w) {
  XEvent close{};
  close.xclient.type = ClientMessage;
  close.xclient.window = w;
  close.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
  close.xclient.format = 32;
  close.xclient.data.l[0] = static_cast<long>(XInternAtom(d, "WM_DELETE_WINDOW", False));
  XSendEvent(d, w, False, NoEventMask, &close);
}
