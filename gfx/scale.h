// Nearest-neighbour scaling of a picture's rows, for a picture shown larger
// (or smaller) than the page it comes from: destination pixel (x, y) shows
// source pixel (x * srcW / dstW, y * srcH / dstH).
#pragma once
#include <cstdint>
#include <vector>

namespace pel {

struct ScaleMap {
  int32_t srcW = 0, srcH = 0, dstW = 0, dstH = 0;
  int32_t bytesPerPixel = 0;          // 1 to 4
  std::vector<uint32_t> columnBytes;  // by destination column: the source column's byte offset
  // 32-bit pixels, by group of eight destination columns: the group's first
  // source column and each column's distance from it (0-7), for a permute of
  // eight loaded pixels; -1 where the group reaches further or past the row.
  std::vector<int32_t> groupFirst;
  std::vector<int32_t> groupLanes;
};

// False (and an empty map) for sizes below 1 or pixels of another size.
bool buildScaleMap(ScaleMap& map, int32_t srcW, int32_t srcH, int32_t dstW, int32_t dstH, int32_t bytesPerPixel);

// The destination rows [first, end) that show source rows [srcFirst, srcEnd).
struct RowSpan {
  int32_t first, end;
};
// The least span holding both; an empty one (first >= end) adds nothing.
constexpr RowSpan joined(RowSpan a, RowSpan b) {
  if (a.first >= a.end) return b;
  if (b.first >= b.end) return a;
  return {a.first < b.first ? a.first : b.first, a.end > b.end ? a.end : b.end};
}
RowSpan scaledRows(const ScaleMap& map, int32_t srcFirst, int32_t srcEnd);

// Writes destination rows [first, end). Source row r is at
// source + (r / repeat) * sourcePitch, so pages with a scan-line repeat are
// read in place. A destination row showing the same source row as the one
// above it is copied from it.
void scaleRows(const ScaleMap& map, const uint8_t* source, std::size_t sourcePitch, int32_t repeat, uint8_t* dest,
               std::size_t destPitch, RowSpan rows);

// The plain form of one destination row, for tests of the fast forms.
void scaleRowPlain(const ScaleMap& map, const uint8_t* sourceRow, uint8_t* destRow);

}  // namespace pel
