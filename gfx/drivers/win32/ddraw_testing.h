// What tests and benchmarks of the "DirectX" back end reach into, apart from
// its interface.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

#include "gfx/drivers/win32/ddraw_driver.h"

struct IDirectDrawSurface;
struct _DDSURFACEDESC;

namespace pel {

// Passes of the window thread since the process started (tests and
// benchmarks), and how many of its waits for the retrace event that
// waitVsync sets ran out (tests).
int64_t ddrawPasses();
int64_t ddrawRetraceTimeouts();
// Marks page rows first to last and runs one pass's conversion and present
// at once (benchmarks).
void ddrawPresentNow(int32_t first, int32_t last);
// Rows the picture sits below the top of a taller full-screen mode.
int32_t ddrawVerticalOffset();
// The open mode's surfaces (benchmarks time the bare calls on them); take
// the presentation lock around their use.
IDirectDrawSurface* ddrawPrimarySurface();
IDirectDrawSurface* ddrawWorkSurface();

// Tests: a display-mode setter in place of IDirectDraw2::SetDisplayMode
// (null restores it), and lost surfaces made up for the next `count` checks,
// the first Restore then answering DDERR_WRONGMODE when `wrongMode` is set.
using DisplayModeSetter = HRESULT (*)(int32_t width, int32_t height, int32_t depth, int32_t refreshRate,
                                      DWORD flags);
void setDisplayModeSetter(DisplayModeSetter setter);
void simulateLostSurfaces(int32_t count, bool wrongMode);
// Tests: the windowed work surface reported lost, the primary intact, until
// it is restored.
void simulateLostWorkSurface();
// Tests: a wait in place of IDirectDraw2::WaitForVerticalBlank (null
// restores it).
using RetraceWaiter = void (*)();
void setRetraceWaiter(RetraceWaiter waiter);
// Tests: the modes of a depth that fetchModes would list from these
// descriptions, through its own enumeration callback.
std::vector<int32_t> ddrawModesOf(int32_t depth, const _DDSURFACEDESC* modes, int32_t count);
// Rebuilds after a display mode change since the process started.
int64_t ddrawRebuilds();
// Windows: the first row and the count of the last band put on the window.
void ddrawLastBand(int32_t& first, int32_t& lines);

}  // namespace pel
