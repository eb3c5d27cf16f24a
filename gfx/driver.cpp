#include "driver.h"

#include <atomic>

namespace pel {

// The back ends' tables, declared here without their platform headers; each
// back end's own header adds what its tests and benchmarks use.
extern const DisplayDriver d2dDriver, ddrawDriver, gdiDriver, wglDriver, waylandDriver, x11Driver, glxDriver;

namespace {

// Back ends of this platform, in the order tried; entries join as they land.
constexpr const DisplayDriver* platformBackends[] = {
#if defined(_WIN32)
    &d2dDriver,
    &ddrawDriver,
    &gdiDriver,
    &wglDriver,
#endif
#if defined(PEL_HAVE_WAYLAND)
    &waylandDriver,  // refuses at once without WAYLAND_DISPLAY
#endif
#if defined(PEL_HAVE_X11)
    &x11Driver,
#endif
#if defined(PEL_HAVE_GLX)
    &glxDriver,
#endif
    nullptr,
};

const DisplayDriver* const* activeList = platformBackends;
// Written by a back end's init (or its window thread while init waits for
// it), read by the mode set after init returns.
std::atomic<const char*> refusal{nullptr};

}  // namespace

const DisplayDriver* const* backendList() { return activeList; }

void setBackendList(const DisplayDriver* const* list) { activeList = list ? list : platformBackends; }

void refuseBecause(const char* reason) { refusal = reason; }
const char* takeRefusalReason() { return refusal.exchange(nullptr); }

}  // namespace pel
