// The null back end: the framebuffer lives in memory and nothing is shown.
#include "gfx/driver.h"

namespace pel {

const DisplayDriver nullDriver = {
    .name = "Null",
    .lock = [] {},
    .unlock = [] {},
};

}  // namespace pel
