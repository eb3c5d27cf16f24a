// Lines, box outlines and filled boxes.
#pragma once
#include <cstdint>

namespace pel {

struct DrawContext;

namespace drawflag {
constexpr uint32_t useForeground = 0x80000000u;  // the context's foreground, unconverted
constexpr uint32_t coordinateMode = 7;           // low three bits
}  // namespace drawflag

namespace linekind {
constexpr int32_t line = 0;
constexpr int32_t filledBox = 2;  // any other kind: a box outline
}  // namespace linekind

// Draws on `target` (null: the work page). Points are in pixels of the
// target; the colour is converted for it unless flags has useForeground.
void drawLine(const void* target, float x1, float y1, float x2, float y2, uint32_t colour, int32_t kind,
              uint16_t style, uint32_t flags);

// Applies the coordinate mode (flags & 7) and makes the last point the
// resolved second point, or the first when x2 and y2 are null.
void resolveCoordinates(DrawContext* context, uint32_t flags, float& x1, float& y1, float* x2, float* y2);
// Rounds half away from zero and adds the view's origin. Values beyond the
// 32-bit range are clamped to it; false for NaN, which has no position.
bool mapToPhysical(const DrawContext* context, float x, float y, int32_t& column, int32_t& row);
void orderCorners(int32_t& x1, int32_t& y1, int32_t& x2, int32_t& y2);
uint16_t reverseStyle(uint16_t style);

// Physical coordinates, colour already in the target's format. A clipped
// line plots exactly the pixels of the whole line that lie in the view, with
// the style anchored at the first point.
void rasterLine(DrawContext* context, int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t colour,
                uint16_t style);
// Corners ordered (x1 <= x2, y1 <= y2).
void rasterBox(int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t colour, bool filled, uint16_t style);

// Marks rows first..last dirty when the context draws on the shown page.
void markTargetRows(const DrawContext* context, int32_t firstRow, int32_t lastRow);

}  // namespace pel
