#include "text_cells.h"

#include <algorithm>

#include "gfx/mode.h"

namespace pel {

void fillCells(int32_t firstColumn, int32_t firstRow, int32_t endColumn, int32_t endRow, int32_t page,
               uint32_t character, uint32_t foreground, uint32_t background) {
  const ScreenMode* mode = currentMode();
  if (!mode || !mode->textPages || page < 0 || static_cast<uint32_t>(page) >= mode->pageCount) return;
  auto* cells = reinterpret_cast<TextCell*>(mode->textPages[page]);
  firstColumn = std::max(firstColumn, 0);
  firstRow = std::max(firstRow, 0);
  endColumn = std::min(endColumn, mode->textColumns);
  endRow = std::min(endRow, mode->textRows);
  const TextCell cell{static_cast<uint16_t>(character), 0, foreground, background};
  for (int32_t row = firstRow; row < endRow; ++row) {
    std::fill(cells + row * mode->textColumns + firstColumn, cells + row * mode->textColumns + endColumn, cell);
  }
}

}  // namespace pel
