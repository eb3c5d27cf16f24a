// What tests and benchmarks of the "OpenGL" (GLX) back end reach into, apart from
// its interface.
#pragma once

#include <cstdint>

#include "gfx/drivers/x11/glx_driver.h"

namespace pel {

// Tests replace glXChooseFBConfig with a chooser of their own (null restores
// libGL's). The arguments and result are glXChooseFBConfig's, typeless here.
using FramebufferChooser = void** (*)(void* display, int screen, const int* attributes, int* count);
void setFramebufferChooser(FramebufferChooser chooser);
// Samples left in the attribute list after the last configuration choice.
int32_t glxSamplesChosen();

}  // namespace pel
