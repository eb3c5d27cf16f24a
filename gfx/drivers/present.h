// The one present path of the back ends that present from memory (X11,
// Wayland, GDI, Direct2D, DirectX): the dirty band of the visible page taken
// under the back end's lock, converted with the back end's blitter, scaled
// to the picture's shown size, and handed over as ready rows; the back end
// keeps only its platform put, then ends the pass, which clears the table
// by one rule.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "gfx/blit.h"
#include "gfx/scale.h"

namespace pel {

struct DisplayDriver;
struct ScreenMode;

// Copies `pixels` pixels of a page row already in the surface's format.
using RowCopy = void (*)(uint8_t* destination, const uint8_t* source, int32_t pixels);

// Rows [rows.first, rows.end) of the picture as shown, row 0 at `pixels`,
// which show the page's display lines [lines.first, lines.end).
struct PresentedRows {
  const uint8_t* pixels = nullptr;
  std::size_t pitch = 0;
  RowSpan rows{};
  RowSpan lines{};
  bool empty() const { return rows.first >= rows.end; }
};

class Presenter {
 public:
  // The surface's format: the blitter from the page, null when the page is
  // in that format already; its bytes a pixel; how rows of a page already
  // in it are copied (null: as they are).
  void setFormat(Blitter blitter, int32_t bytesPerPixel, RowCopy copy = nullptr);
  // Forgets the memory and the format (the surface went).
  void reset();

  // One pass, with the back end's lock held: the dirty band converted and,
  // when the picture is shown at another size than the page's (shownW x
  // shownH, height in display lines), scaled. It goes into `into` (row 0 of
  // the picture as shown, `intoPitch` bytes a row) or, when that is null,
  // into memory of the presenter's own (or stays in the page itself when it
  // needs neither). Empty when nothing changed or the sizes cannot be
  // scaled; the table is left for `finishPresent`.
  PresentedRows take(ScreenMode* m, int32_t shownW, int32_t shownH, uint8_t* into = nullptr,
                     std::size_t intoPitch = 0);
  // The whole picture as the last pass left it in the presenter's memory or
  // the page (a repaint); empty when the last pass went into the caller's
  // memory or showed the picture at another size than shownW x shownH.
  PresentedRows whole(const ScreenMode* m, int32_t shownW, int32_t shownH) const;
  // The rows of the picture as shown that show display lines `lines` of the
  // page, as the last scaled pass placed them.
  RowSpan shownRows(RowSpan lines) const { return scaledRows(map_, lines.first, lines.end); }

 private:
  void prepareConverted(ScreenMode* m);
  Blitter blitter_ = nullptr;
  int32_t bytesPerPixel_ = 4;
  RowCopy copy_ = nullptr;
  std::vector<uint8_t> converted_;  // the page in the surface's format
  std::size_t convertedPitch_ = 0;
  ScaleMap map_;
  std::vector<uint8_t> scaled_;  // the picture at its shown size
  std::size_t scaledPitch_ = 0;
  enum class Last { nothing, page, converted, scaled, caller } last_ = Last::nothing;
};

// Ends a pass: every row presented clears the whole table; a pass whose rows
// did not reach the screen marks every row, so the next one puts the whole
// picture again.
void finishPresent(ScreenMode* m, bool shown);

// For tests and benchmarks of a back end: the open mode when it is the
// back end's and rows first..last are on its page, else null.
ScreenMode* modeToPresent(const DisplayDriver& driver, int32_t first, int32_t last);
// Marks rows first..last of a mode modeToPresent gave.
void markRows(ScreenMode* m, int32_t first, int32_t last);

// The last band a back end put, in display lines (tests read it).
struct LastBand {
  std::atomic<int32_t> first{0}, lines{0};
  void set(int32_t f, int32_t n) {
    first = f;
    lines = n;
  }
  void get(int32_t& f, int32_t& n) const {
    f = first;
    n = lines;
  }
};

}  // namespace pel
