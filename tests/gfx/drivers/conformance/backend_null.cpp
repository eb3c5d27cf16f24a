// "Null": the page lives in memory and nothing is shown or typed.
#include "conformance.h"

namespace pel::conformance {

const Backend nullBackend = {
    .name = "Null",
    .driver = "null",
    .flags = 0,
    .start = [] { return std::string(); },
    .stop = [] {},
    .settle = [] {},
    .grab = nullptr,
    .type = nullptr,
    .requestClose = nullptr,
    .title = nullptr,
    .noScreen = "it shows nothing",
    .noInput = "it has no window to take input",
};

}  // namespace pel::conformance
