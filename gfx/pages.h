// Pages, the runtime lock, the dirty-row table, the window title and palettes.
#pragma once
#include <cstdint>
#include <string_view>

#include "gfx/scale.h"

namespace pel {

// Returns (previous visible << 8) | previous work, or -1 with no mode.
int32_t setPages(int32_t workPage, int32_t visiblePage);
// -1 is the work page as source and the visible page as destination.
int32_t copyPage(int32_t sourcePage, int32_t destinationPage);
// Row 0 of the work page, or null with no mode.
uint8_t* workPagePointer();

void lockScreen();
// Marks rows firstRow..lastRow dirty (negative values: first and last row)
// when the work page is visible, and releases one level of the lock.
void unlockScreen(int32_t firstRow, int32_t lastRow);

void setTitle(std::string_view text);
// The current window title, or null before the first mode set or title change.
const char* windowTitle();

void paletteSet(int32_t index, int32_t colour, int32_t green, int32_t blue);
void setPaletteEntry(int32_t index, int32_t red, int32_t green, int32_t blue);
void setPaletteFromValue(int32_t index, int32_t value);
void resendPalette();

// Marks rows first..last (inclusive, already clipped) of the dirty table.
void markDirty(int32_t firstRow, int32_t lastRow);
struct ScreenMode;
// Marks every page row, so the next pass presents the whole page.
void markAllRows(ScreenMode* m);
// The page rows [first, end) from the first dirty one to the last; first ==
// end when none is.
RowSpan dirtyRows(const ScreenMode* m);

}  // namespace pel
