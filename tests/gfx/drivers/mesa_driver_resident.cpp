// Preloaded into programs the GLX tests start under the leak checker; see
// mesa_driver_resident.h.
#include "mesa_driver_resident.h"

namespace {
[[gnu::constructor]] void keepResident() { mesa::keepSoftwareDriverResident(); }
}  // namespace
