#include "mode.h"

namespace pel {
namespace {
ScreenMode* openMode = nullptr;
}

ScreenMode* currentMode() { return openMode; }

}  // namespace pel
