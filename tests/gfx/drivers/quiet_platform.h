// A window layer's platform calls that do nothing and a rebuild that always
// succeeds: for driving the window rules without a window.
#pragma once
#include "gfx/drivers/window_rules.h"

namespace test {

inline const pel::WindowPlatform quietPlatform = {
    .trackLeave = nullptr,
    .clipToClient = nullptr,
    .releaseClip = nullptr,
    .capture = nullptr,
    .warpPointer = nullptr,
    .updateCursor = nullptr,
    .initWindow = [](void*) { return true; },
    .exitWindow = [](void*) {},
    .setHighPriority = nullptr,
    .window = nullptr,
};

}  // namespace test
