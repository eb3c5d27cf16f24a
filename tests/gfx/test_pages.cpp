#include <gtest/gtest.h>

#include <cstring>

#include "fake_drivers.h"
#include "gfx/fonts.h"
#include "gfx/mode.h"
#include "gfx/pages.h"
#include "gfx/text_cells.h"
#include "runtime/runtime.h"

using namespace pel;
using A = fake::A;

namespace {

class Pages : public ::testing::Test {
 protected:
  void SetUp() override { fake::install(); }
  void TearDown() override {
    closeScreen();
    setBackendList(nullptr);
  }
  static int dirtyCount() {
    const ScreenMode* m = currentMode();
    int n = 0;
    for (int y = 0; y < m->height * m->scanlineRepeat; ++y) n += m->dirty[y] != 0;
    return n;
  }
  static void clearDirty() {
    ScreenMode* m = currentMode();
    std::memset(m->dirty, 0, static_cast<std::size_t>(m->height * m->scanlineRepeat));
  }
};

uint32_t rgb(const ScreenMode* m, int i) { return m->palette[i]; }

}  // namespace

TEST_F(Pages, SetPagesChoosesWorkAndVisiblePages) {
  ASSERT_EQ(openScreenBySize(800, 600, 32, 2, 36, 0), 0);
  A::locks = A::unlocks = 0;  // the mode set cleared its pages under the lock
  ScreenMode* m = currentMode();
  EXPECT_EQ(setPages(1, 0), 0);
  EXPECT_EQ(workPagePointer(), m->pages[1]);
  EXPECT_EQ(getContext()->rows[599], m->pages[1] + 599 * 3200);
  EXPECT_EQ(dirtyCount(), 0);
  EXPECT_EQ(setPages(5, 5), 1);  // out of range: ignored
  EXPECT_EQ(getContext()->workPage, 1);
  EXPECT_EQ(setPages(0, 1), 1);
  EXPECT_EQ(m->visiblePage, 1u);
  EXPECT_EQ(m->visibleBuffer, m->pages[1]);
  EXPECT_EQ(dirtyCount(), 600);
  EXPECT_EQ(A::locks, 1);
  EXPECT_EQ(A::unlocks, 1);
  EXPECT_EQ(m->lockCount, 0);
  EXPECT_EQ(setPages(-1, -1), 0x100);
  EXPECT_EQ(m->visiblePage, 0u);
  EXPECT_EQ(getContext()->workPage, 0);
}

TEST_F(Pages, SetPagesWithoutModeIsMinusOne) { EXPECT_EQ(setPages(1, 0), -1); }

TEST_F(Pages, CopyPageCopiesTheViewAndMarksRows) {
  ASSERT_EQ(openScreenBySize(800, 600, 32, 2, 36, 0), 0);
  ScreenMode* m = currentMode();
  setPages(1, 0);
  auto* work = reinterpret_cast<uint32_t*>(workPagePointer());
  work[0] = 0x11;
  work[800 * 600 - 1] = 0x22;
  reinterpret_cast<TextCell*>(m->textPages[1])[5].character = 'Q';
  clearDirty();
  A::locks = A::unlocks = 0;
  EXPECT_EQ(copyPage(-1, -1), 0);
  const auto* shown = reinterpret_cast<const uint32_t*>(m->pages[0]);
  EXPECT_EQ(shown[0], 0x11u);
  EXPECT_EQ(shown[800 * 600 - 1], 0x22u);
  EXPECT_EQ(shown[1], 0xFF000000u);
  EXPECT_EQ(reinterpret_cast<const TextCell*>(m->textPages[0])[5].character, 'Q');
  EXPECT_EQ(dirtyCount(), 600);
  EXPECT_EQ(A::locks, 1);
  EXPECT_EQ(A::unlocks, 1);
  EXPECT_EQ(copyPage(2, 0), 1);
  EXPECT_EQ(lastError(), 1);
  EXPECT_EQ(copyPage(0, 2), 1);
  // Onto a hidden page: no lock, no marks.
  clearDirty();
  EXPECT_EQ(copyPage(0, 1), 0);
  EXPECT_EQ(dirtyCount(), 0);
  EXPECT_EQ(A::locks, 1);
  // Same page: nothing copied.
  setPages(0, 0);
  EXPECT_EQ(copyPage(-1, -1), 0);
  EXPECT_EQ(A::locks, 1);
}

TEST_F(Pages, CopyPageWithoutModeIsErrorOne) {
  setLastError(0);
  EXPECT_EQ(copyPage(-1, -1), 1);
  EXPECT_EQ(lastError(), 1);
  EXPECT_EQ(workPagePointer(), nullptr);
}

TEST_F(Pages, LockNestsAndUnlockMarksRows) {
  ASSERT_EQ(openScreenBySize(64, 40, 8, 1, 0, 0), 0);
  A::locks = A::unlocks = 0;  // the mode set locked for the palette and the pages
  clearDirty();
  lockScreen();
  lockScreen();
  EXPECT_EQ(A::locks, 1);
  unlockScreen(1, 0);
  EXPECT_EQ(A::unlocks, 0);
  EXPECT_EQ(currentMode()->lockCount, 1);
  unlockScreen(-1, -1);
  EXPECT_EQ(A::unlocks, 1);
  EXPECT_EQ(dirtyCount(), 40);
  clearDirty();
  unlockScreen(3, 5);  // not locked: marks, releases nothing more
  EXPECT_EQ(dirtyCount(), 3);
  EXPECT_EQ(A::unlocks, 1);
  clearDirty();
  unlockScreen(30, 40);  // beyond the last row: nothing marked
  unlockScreen(5, 3);
  EXPECT_EQ(dirtyCount(), 0);
}

TEST_F(Pages, TitleKeepsAtMost127Characters) {
  const std::string longTitle(300, 'x');
  setTitle(longTitle);
  EXPECT_EQ(std::strlen(windowTitle()), 127u);
  ASSERT_EQ(openScreenBySize(8, 8, 8, 1, 0, 0), 0);
  setTitle("Pellucet v0.50 by Ixo");
  EXPECT_EQ(A::title, "Pellucet v0.50 by Ixo");
  EXPECT_STREQ(windowTitle(), "Pellucet v0.50 by Ixo");
}

TEST_F(Pages, PaletteDoesNothingAboveDepthEight) {
  ASSERT_EQ(openScreenBySize(8, 8, 16, 1, 0, 0), 0);
  A::locks = 0;
  clearDirty();
  paletteSet(1, 255, 0, 0);
  paletteSet(-1, 0, 0, 0);
  EXPECT_EQ(A::locks, 0);
  EXPECT_EQ(dirtyCount(), 0);
  EXPECT_EQ(currentMode()->palette[1], 0u);
}

TEST_F(Pages, DefaultPalettes) {
  const PaletteRecord* vga = (unpackBuiltinData(), builtinPalette(3));
  const PaletteRecord* ega = builtinPalette(1);
  ASSERT_EQ(vga->count, 256);
  EXPECT_EQ(std::memcmp(vga->triples, ega->triples, 48), 0);
  auto at = [vga](int i) {
    const uint8_t* t = vga->triples + 3 * i;
    return std::vector<int>{t[0], t[1], t[2]};
  };
  EXPECT_EQ(at(6), (std::vector<int>{170, 85, 0}));
  EXPECT_EQ(at(16), (std::vector<int>{0, 0, 0}));
  EXPECT_EQ(at(17), (std::vector<int>{20, 20, 20}));
  EXPECT_EQ(at(31), (std::vector<int>{255, 255, 255}));
  EXPECT_EQ(at(32), (std::vector<int>{0, 0, 255}));
  EXPECT_EQ(at(40), (std::vector<int>{255, 0, 0}));
  EXPECT_EQ(at(44), (std::vector<int>{255, 255, 0}));
  EXPECT_EQ(at(48), (std::vector<int>{0, 255, 0}));
  EXPECT_EQ(at(55), (std::vector<int>{0, 64, 255}));
  EXPECT_EQ(at(104), (std::vector<int>{0, 0, 113}));
  EXPECT_EQ(at(247), (std::vector<int>{44, 48, 64}));
  EXPECT_EQ(at(248), (std::vector<int>{0, 0, 0}));
  const PaletteRecord* p64 = builtinPalette(2);
  const uint8_t* t20 = p64->triples + 3 * 20;  // bits 2 and 4: red 170, green 85
  EXPECT_EQ(t20[0], 170);
  EXPECT_EQ(t20[1], 85);
  EXPECT_EQ(t20[2], 0);
  EXPECT_EQ(builtinPalette(0)->triples[3], 255);
}

TEST_F(Pages, ResetMappingsOfTheNumberedScreens) {
  ASSERT_EQ(openScreenByNumber(1, 0, 0, 0, 0), 0);
  ScreenMode* m = currentMode();
  EXPECT_EQ(m->colorMap[1], 11);
  EXPECT_EQ(rgb(m, 1), 0x00FFFF55u);  // default colour 11: (85, 255, 255)
  EXPECT_EQ(rgb(m, 3), 0x00FFFFFFu);
  EXPECT_EQ(A::palette.size(), 4u);
  paletteSet(-2, 0, 0, 0);
  EXPECT_EQ(m->colorMap[1], 10);
  paletteSet(-9, 0, 0, 0);
  EXPECT_EQ(m->colorMap[3], 6);
  EXPECT_EQ(m->deviceColors[15], 0x00FFFFFFu);

  ASSERT_EQ(openScreenByNumber(2, 0, 0, 0, 0), 0);
  EXPECT_EQ(rgb(currentMode(), 1), 0x00FFFFFFu);

  A::palette.clear();
  ASSERT_EQ(openScreenByNumber(9, 0, 0, 0, 0), 0);
  m = currentMode();
  EXPECT_EQ(m->colorMap[6], 20);
  EXPECT_EQ(rgb(m, 6), 0x000055AAu);  // colour 20 of the 64: red 170, green 85
  EXPECT_EQ(A::palette[6], "6:170,85,0");
  EXPECT_EQ(m->deviceColors[63], 0x00FFFFFFu);

  ASSERT_EQ(openScreenByNumber(13, 0, 0, 0, 0), 0);
  m = currentMode();
  EXPECT_EQ(rgb(m, 40), 0x000000FFu);
  EXPECT_EQ(rgb(m, 255), 0u);
  EXPECT_EQ(m->colorMap[6], 0);
}

TEST_F(Pages, SettingEntries) {
  ASSERT_EQ(openScreenByNumber(13, 0, 0, 0, 0), 0);
  ScreenMode* m = currentMode();
  clearDirty();
  setPaletteFromValue(1, 63 | 0 << 8 | 63 << 16);
  EXPECT_EQ(rgb(m, 1), 0x00FF00FFu);
  setPaletteEntry(300, 1, 2, 3);
  EXPECT_EQ(rgb(m, 44), 0x00030201u);
  paletteSet(7, 10, 20, 30);
  EXPECT_EQ(rgb(m, 7), 0x001E140Au);
  EXPECT_EQ(dirtyCount(), 200);
  paletteSet(8, 0x3F, -1, -1);
  EXPECT_EQ(rgb(m, 8), 0x000000FFu);
  setPaletteEntry(9, 300, 0, 0);  // components are bytes
  EXPECT_EQ(rgb(m, 9), 300u & 0xFF);
}

TEST_F(Pages, SixtyFourColourValuesStayInsideTheColourMap) {
  ASSERT_EQ(openScreenByNumber(9, 0, 0, 0, 0), 0);
  ScreenMode* m = currentMode();
  uint8_t before[16];
  std::memcpy(before, m->colorMap, 16);
  for (int index = 16; index < 64; ++index) setPaletteFromValue(index, 5);
  EXPECT_EQ(std::memcmp(before, m->colorMap, 16), 0);
  EXPECT_EQ(rgb(m, 40), m->deviceColors[5]);
  setPaletteFromValue(2, 63);
  EXPECT_EQ(m->colorMap[2], 63);
  EXPECT_EQ(rgb(m, 2), 0x00FFFFFFu);
}

TEST_F(Pages, ResendPaletteSendsAllEntries) {
  ASSERT_EQ(openScreenByNumber(13, 0, 0, 0, 0), 0);
  A::palette.clear();
  resendPalette();
  ASSERT_EQ(A::palette.size(), 256u);
  EXPECT_EQ(A::palette[15], "15:255,255,255");
}
