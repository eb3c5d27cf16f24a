// The "OpenGL" back end on X11 (GLX): the X11 window layer's window with a
// child window holding a double-buffered OpenGL context current on the
// program's thread, presented with glXSwapBuffers at each page flip, where
// the window's events are handled too. It serves only modes with flag 0x02,
// has no window thread, and looks libGL up at run time.
#pragma once

#include <cstdint>

#include "gfx/driver.h"

namespace pel {

extern const DisplayDriver glxDriver;

// Tests replace glXChooseFBConfig with a chooser of their own (null restores
// libGL's). The arguments and result are glXChooseFBConfig's, typeless here.
using FramebufferChooser = void** (*)(void* display, int screen, const int* attributes, int* count);
void setFramebufferChooser(FramebufferChooser chooser);
// Samples left in the attribute list after the last configuration choice.
int32_t glxSamplesChosen();

}  // namespace pel
