#include "scale.h"

#include <cstring>

#include "gfx/cpu.h"


namespace pel {

void scaleRow32Avx2(const ScaleMap& map, const uint8_t* sourceRow, uint8_t* destRow);  // scale_avx2.cpp

namespace {

template <typename Pixel>
void gather(const ScaleMap& map, const uint8_t* s, uint8_t* d) {
  const uint32_t* column = map.columnBytes.data();
  for (int32_t x = 0; x < map.dstW; ++x) {
    Pixel p;
    std::memcpy(&p, s + column[x], sizeof p);
    std::memcpy(d + static_cast<std::size_t>(x) * sizeof p, &p, sizeof p);
  }
}

void gather24(const ScaleMap& map, const uint8_t* s, uint8_t* d) {
  const uint32_t* column = map.columnBytes.data();
  for (int32_t x = 0; x < map.dstW; ++x, d += 3) std::memcpy(d, s + column[x], 3);
}

// Whole-number widening of 32-bit pixels: each source pixel written k times,
// with no table.
template <int K>
void widen32(const uint8_t* s, uint8_t* d, int32_t srcW) {
  const auto* in = reinterpret_cast<const uint32_t*>(s);
  auto* out = reinterpret_cast<uint32_t*>(d);
  for (int32_t x = 0; x < srcW; ++x, out += K) {
    const uint32_t p = in[x];
    for (int i = 0; i < K; ++i) out[i] = p;
  }
}

void scaleRow(const ScaleMap& map, const uint8_t* s, uint8_t* d) {
  static const bool avx2 = cpuHasAvx2();
  if (map.bytesPerPixel == 4) {
    if (map.dstW == map.srcW) {
      std::memcpy(d, s, static_cast<std::size_t>(map.dstW) * 4);
      return;
    }
    if (avx2) {
      scaleRow32Avx2(map, s, d);
      return;
    }
    const int64_t k = map.dstW / map.srcW;
    if (k * map.srcW == map.dstW) {
      switch (k) {
        case 1: std::memcpy(d, s, static_cast<std::size_t>(map.dstW) * 4); return;
        case 2: widen32<2>(s, d, map.srcW); return;
        case 3: widen32<3>(s, d, map.srcW); return;
        case 4: widen32<4>(s, d, map.srcW); return;
        default: break;
      }
    }
  }
  scaleRowPlain(map, s, d);
}

}  // namespace

bool buildScaleMap(ScaleMap& map, int32_t srcW, int32_t srcH, int32_t dstW, int32_t dstH, int32_t bytesPerPixel) {
  map = ScaleMap{};
  if (srcW < 1 || srcH < 1 || dstW < 1 || dstH < 1 || bytesPerPixel < 1 || bytesPerPixel > 4) return false;
  map.srcW = srcW;
  map.srcH = srcH;
  map.dstW = dstW;
  map.dstH = dstH;
  map.bytesPerPixel = bytesPerPixel;
  map.columnBytes.resize(static_cast<std::size_t>(dstW));
  for (int32_t x = 0; x < dstW; ++x) {
    map.columnBytes[static_cast<std::size_t>(x)] =
        static_cast<uint32_t>(int64_t{x} * srcW / dstW * bytesPerPixel);
  }
  if (bytesPerPixel == 4) {
    const int32_t groups = dstW / 8;
    map.groupFirst.resize(static_cast<std::size_t>(groups));
    map.groupLanes.resize(static_cast<std::size_t>(groups) * 8);
    for (int32_t g = 0; g < groups; ++g) {
      const int32_t first = static_cast<int32_t>(map.columnBytes[static_cast<std::size_t>(g) * 8] / 4);
      const int32_t reach = static_cast<int32_t>(map.columnBytes[static_cast<std::size_t>(g) * 8 + 7] / 4) - first;
      const bool fits = reach < 8 && first + 8 <= srcW;  // the eight loaded pixels lie in the row
      map.groupFirst[static_cast<std::size_t>(g)] = fits ? first : -1;
      for (int32_t i = 0; i < 8; ++i) {
        map.groupLanes[static_cast<std::size_t>(g) * 8 + i] =
            static_cast<int32_t>(map.columnBytes[static_cast<std::size_t>(g) * 8 + i] / 4) - first;
      }
    }
  }
  return true;
}

RowSpan scaledRows(const ScaleMap& map, int32_t srcFirst, int32_t srcEnd) {
  // Row y shows source row y * srcH / dstH: the first row at or past a
  // source row r is ceil(r * dstH / srcH).
  auto firstShowing = [&](int32_t r) {
    return static_cast<int32_t>((int64_t{r} * map.dstH + map.srcH - 1) / map.srcH);
  };
  if (map.srcH < 1 || srcFirst >= srcEnd) return {0, 0};
  return {firstShowing(srcFirst < 0 ? 0 : srcFirst), firstShowing(srcEnd > map.srcH ? map.srcH : srcEnd)};
}

void scaleRowPlain(const ScaleMap& map, const uint8_t* sourceRow, uint8_t* destRow) {
  switch (map.bytesPerPixel) {
    case 1: gather<uint8_t>(map, sourceRow, destRow); break;
    case 2: gather<uint16_t>(map, sourceRow, destRow); break;
    case 3: gather24(map, sourceRow, destRow); break;
    case 4: gather<uint32_t>(map, sourceRow, destRow); break;
    default: break;
  }
}

void scaleRows(const ScaleMap& map, const uint8_t* source, std::size_t sourcePitch, int32_t repeat, uint8_t* dest,
               std::size_t destPitch, RowSpan rows) {
  if (repeat < 1) repeat = 1;
  const std::size_t rowBytes = static_cast<std::size_t>(map.dstW) * static_cast<std::size_t>(map.bytesPerPixel);
  int64_t previous = -1;
  for (int32_t y = rows.first; y < rows.end; ++y) {
    const int64_t r = int64_t{y} * map.srcH / map.dstH;
    const int64_t pageRow = r / repeat;
    uint8_t* d = dest + static_cast<std::size_t>(y) * destPitch;
    if (pageRow == previous) {
      std::memcpy(d, d - destPitch, rowBytes);
    } else {
      scaleRow(map, source + static_cast<std::size_t>(pageRow) * sourcePitch, d);
      previous = pageRow;
    }
  }
}

}  // namespace pel
