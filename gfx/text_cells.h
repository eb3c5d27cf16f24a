// The graphics console's character cells, one buffer per page.
#pragma once
#include <cstdint>

namespace pel {

struct TextCell {
  uint16_t character;
  uint16_t unused;
  uint32_t foreground;
  uint32_t background;
};
static_assert(sizeof(TextCell) == 12);

// Sets every cell with column in [firstColumn, endColumn) and row in
// [firstRow, endRow) of the page's buffer; the range is clipped to the grid.
void fillCells(int32_t firstColumn, int32_t firstRow, int32_t endColumn, int32_t endRow, int32_t page,
               uint32_t character, uint32_t foreground, uint32_t background);

}  // namespace pel
