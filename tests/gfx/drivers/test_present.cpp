#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "gfx/blit.h"
#include "gfx/drivers/present.h"
#include "gfx/mode.h"
#include "gfx/pages.h"

using namespace pel;

namespace {

// A screen the test owns: what a back end's put would leave on the window.
struct Screen {
  int32_t width, height, bytes;
  std::size_t pitch;
  std::vector<uint8_t> pixels;
  uint8_t* row(int32_t y) { return pixels.data() + static_cast<std::size_t>(y) * pitch; }
};

// The whole visible page in the surface's format at the page's size: the
// blitter (tested on its own) over every row, or the rows as they are.
std::vector<uint8_t> convertedPage(ScreenMode* m, Blitter blitter, int32_t bytes, RowCopy copy) {
  const int32_t lines = m->height * m->scanlineRepeat;
  const auto pitch = static_cast<std::size_t>(m->width) * static_cast<std::size_t>(bytes);
  std::vector<uint8_t> out(pitch * static_cast<std::size_t>(lines));
  std::vector<uint8_t> dirty(m->dirty, m->dirty + lines);
  if (blitter) {
    std::memset(m->dirty, 1, static_cast<std::size_t>(lines));
    blitter(out.data(), static_cast<int32_t>(pitch));
    std::memcpy(m->dirty, dirty.data(), dirty.size());
  } else {
    for (int32_t y = 0; y < lines; ++y) {
      const uint8_t* source = m->visibleBuffer + static_cast<std::size_t>(y / m->scanlineRepeat) * m->pitch;
      if (copy) {
        copy(out.data() + pitch * static_cast<std::size_t>(y), source, m->width);
      } else {
        std::memcpy(out.data() + pitch * static_cast<std::size_t>(y), source, pitch);
      }
    }
  }
  return out;
}

// Every shown pixel against the page pixel it shows, (x * W / w, y * H / h).
void expectShowsPage(ScreenMode* m, Screen& screen, Blitter blitter, RowCopy copy, const char* what) {
  const std::vector<uint8_t> page = convertedPage(m, blitter, screen.bytes, copy);
  const int32_t lines = m->height * m->scanlineRepeat;
  const auto pagePitch = static_cast<std::size_t>(m->width) * static_cast<std::size_t>(screen.bytes);
  int wrong = 0;
  for (int32_t y = 0; y < screen.height; ++y) {
    const int64_t sy = int64_t{y} * lines / screen.height;
    for (int32_t x = 0; x < screen.width; ++x) {
      const int64_t sx = int64_t{x} * m->width / screen.width;
      wrong += std::memcmp(screen.row(y) + x * screen.bytes,
                           page.data() + static_cast<std::size_t>(sy) * pagePitch + sx * screen.bytes,
                           static_cast<std::size_t>(screen.bytes)) != 0;
    }
  }
  EXPECT_EQ(wrong, 0) << what;
}

void orOpaque(uint8_t* out, const uint8_t* in, int32_t count) {
  for (int32_t x = 0; x < count; ++x) {
    uint32_t p;
    std::memcpy(&p, in + 4 * x, 4);
    p |= 0xFF000000u;
    std::memcpy(out + 4 * x, &p, 4);
  }
}

}  // namespace

// Random frames through every form of the path (converted or not, scaled
// up, down or not at all, into the caller's memory or the presenter's own,
// repeated lines): after each pass the screen, given only the rows handed
// over, shows the whole page, the table is clear, and the rows handed over
// are those that show the changed band.
TEST(Present, EveryPassLeavesTheScreenShowingThePage) {
  std::mt19937 random(34);
  setenv("KELGFX", "null", 1);
  struct Form {
    int depth;  // the page's
    bool convert;
    bool copy;
  };
  const Form forms[] = {{8, true, false}, {16, true, false}, {32, true, false}, {32, false, false}, {32, false, true}};
  for (const Form& form : forms) {
    for (int repeat : {1, 2}) {
      const int32_t width = 37, height = 23;
      ASSERT_EQ(setMode(-1, width, height, form.depth, repeat, 1, 0, 3, 0, 0, 1.0f, 0, 0), 0);
      ScreenMode* m = currentMode();
      for (int i = 0; i < 256; ++i) m->palette[i] = random() & 0xFFFFFF;
      const int32_t lines = height * repeat;
      const Blitter blitter = form.convert ? selectBlitter(32, 0) : nullptr;
      const RowCopy copy = form.copy ? orOpaque : nullptr;
      const int32_t shownSizes[][2] = {{width, lines}, {width * 3, lines * 3}, {width * 2 + 1, lines * 5 / 3},
                                       {width / 2, lines / 3}};
      for (const auto& shown : shownSizes) {
        const bool scaled = shown[0] != width || shown[1] != lines;
        if (form.copy && scaled) continue;  // scaled rows are gathered, not copied
        for (int intoCaller = 0; intoCaller < 2; ++intoCaller) {
          Presenter presenter;
          presenter.setFormat(blitter, 4, copy);
          Screen screen{shown[0], shown[1], 4, static_cast<std::size_t>(shown[0]) * 4 + 12, {}};
          screen.pixels.assign(screen.pitch * static_cast<std::size_t>(screen.height), 0xA5);
          markAllRows(m);
          for (int frame = 0; frame < 12; ++frame) {
            // A band of changed rows (none in some frames).
            const int32_t first = static_cast<int32_t>(random() % height);
            const int32_t last = frame % 4 == 3 ? first - 1 : first + static_cast<int32_t>(random() % (height - first));
            for (int32_t y = first; y <= last; ++y) {
              for (int32_t i = 0; i < m->pitch; ++i) m->visibleBuffer[y * m->pitch + i] = static_cast<uint8_t>(random());
            }
            if (last >= first) markDirty(first, last);
            const RowSpan band = dirtyRows(m);
            const std::vector<uint8_t> before = screen.pixels;
            const PresentedRows rows = presenter.take(m, shown[0], shown[1], intoCaller ? screen.pixels.data() : nullptr,
                                                      screen.pitch);
            if (!intoCaller && !rows.empty()) {
              for (int32_t y = rows.rows.first; y < rows.rows.end; ++y) {
                std::memcpy(screen.row(y), rows.pixels + rows.pitch * static_cast<std::size_t>(y),
                            static_cast<std::size_t>(screen.width) * 4);
              }
            }
            finishPresent(m, true);
            const auto what = ::testing::Message()
                              << "depth " << form.depth << " convert " << form.convert << " copy " << form.copy
                              << " repeat " << repeat << " shown " << shown[0] << "x" << shown[1] << " into caller "
                              << intoCaller << " frame " << frame;
            ASSERT_EQ(dirtyRows(m).first, dirtyRows(m).end) << what;
            expectShowsPage(m, screen, blitter, copy, ::testing::PrintToString(what).c_str());
            if (band.first == band.end) {
              EXPECT_TRUE(rows.empty()) << what;
              EXPECT_EQ(screen.pixels, before) << what;
              continue;
            }
            // The rows handed over show the band's display lines, no others.
            EXPECT_EQ(rows.lines.first, band.first * repeat) << what;
            EXPECT_EQ(rows.lines.end, band.end * repeat) << what;
            const auto firstShowing = [&](int64_t line) {
              return static_cast<int32_t>((line * shown[1] + lines - 1) / lines);
            };
            EXPECT_EQ(rows.rows.first, firstShowing(band.first * repeat)) << what;
            EXPECT_EQ(rows.rows.end, firstShowing(band.end * repeat)) << what;
            for (int32_t y = 0; y < screen.height; ++y) {
              if (y >= rows.rows.first && y < rows.rows.end) continue;
              ASSERT_EQ(std::memcmp(screen.row(y), before.data() + screen.pitch * static_cast<std::size_t>(y),
                                    screen.pitch),
                        0)
                  << what << " row " << y;
            }
            // The last pass again, whole, from the presenter's memory.
            const PresentedRows whole = presenter.whole(m, shown[0], shown[1]);
            EXPECT_EQ(whole.empty(), intoCaller == 1) << what;
            if (!whole.empty()) {
              EXPECT_EQ(whole.rows.first, 0);
              EXPECT_EQ(whole.rows.end, shown[1]);
            }
          }
        }
      }
    }
  }
  closeScreen();
}

// A pass whose rows did not reach the screen leaves every row to come again.
TEST(Present, AFailedPutPresentsTheWholePageNextTime) {
  setenv("KELGFX", "null", 1);
  ASSERT_EQ(setMode(-1, 16, 10, 32, 1, 1, 0, 3, 0, 0, 1.0f, 0, 0), 0);
  ScreenMode* m = currentMode();
  Presenter presenter;
  presenter.setFormat(nullptr, 4);
  presenter.take(m, 16, 10);
  finishPresent(m, true);
  markDirty(4, 4);
  const PresentedRows one = presenter.take(m, 16, 10);
  EXPECT_EQ(one.rows.first, 4);
  EXPECT_EQ(one.rows.end, 5);
  finishPresent(m, false);
  const PresentedRows all = presenter.take(m, 16, 10);
  EXPECT_EQ(all.rows.first, 0);
  EXPECT_EQ(all.rows.end, 10);
  closeScreen();
}
