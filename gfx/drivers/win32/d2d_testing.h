// What tests and benchmarks of the "Direct2D" back end reach into, apart from
// its interface.
#pragma once

#include <windows.h>
#include <d2d1.h>

#include <cstdint>

#include "gfx/drivers/win32/d2d_driver.h"

namespace pel {

// Update steps of the window thread since the process started, and the
// last band drawn in display lines (tests and benchmarks).
int64_t d2dPasses();
void d2dLastBand(int32_t& first, int32_t& lines);
// Marks page rows first to last and runs one update step at once.
void d2dPresentNow(int32_t first, int32_t last);
// The bare CopyFromMemory, DrawBitmap and EndDraw of a whole 32-bit page,
// on the window thread (the benchmark's floor).
void d2dBareFrame();
// Render paths built again after D2DERR_RECREATE_TARGET since the process
// started.
int64_t d2dPathRebuilds();

// Tests: the system version init sees (0: the real one); EndDraw results
// made up for the next `count` steps; the first bitmap format made to fail;
// the formats tried by the last HWND path (87 B8G8R8A8, 28 R8G8B8A8).
void setReportedVersion(DWORD version);
void injectEndDrawResult(HRESULT result, int32_t count);
void failFirstBitmapFormat(bool fail);
int32_t d2dFormatsTried(int32_t* formats, int32_t capacity);
// Tests: the page converted as for R8G8B8A8 (red and blue swapped) while the
// target stays B8G8R8A8, so the second format's channel order shows; the
// next `count` render paths made to fail; the present options of the last
// HWND target (Wine keeps a target's contents whatever they say).
void pretendSecondBitmapFormat(bool pretend);
void failPathBuilds(int32_t count);
D2D1_PRESENT_OPTIONS d2dPresentOptions();

}  // namespace pel
