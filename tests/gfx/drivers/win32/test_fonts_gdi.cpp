// Outline fonts on Windows through GDI, under Wine: DejaVu Sans from the
// Linux fonts folder (drive Z), checked by the shapes of well-known glyphs,
// its kerning table, characters beyond U+FFFF, refusals of damaged data, and
// every GDI object, device context and added font given back.
#include <gtest/gtest.h>

#include <pellucet/pellucet.h>

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "api/font_files.h"
#include "tests/api/outline_checks.h"

namespace {

using namespace pel::test;  // the shared outline checks

constexpr const char* dejaVuSans = "Z:/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
constexpr const char* dejaVuSansBold = "Z:/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf";

// The font with an ascender of 16 ems, in both places a renderer may take
// it from (hhea and OS/2): GDI accepts it, the library does not.
std::vector<uint8_t> absurdLineMetrics(const std::vector<uint8_t>& data) {
  std::vector<uint8_t> bytes = data;
  for (uint32_t i = 0, n = be16(data, 4); i < n; ++i) {
    const std::size_t entry = 12 + 16 * i, at = be32(data, entry + 8);
    for (std::size_t field : std::memcmp(&data[entry], "hhea", 4) == 0   ? std::vector<std::size_t>{4}
                             : std::memcmp(&data[entry], "OS/2", 4) == 0 ? std::vector<std::size_t>{68, 74}
                                                                          : std::vector<std::size_t>{}) {
      bytes[at + field] = 0x7F;
      bytes[at + field + 1] = 0xFF;
    }
  }
  return bytes;
}

// The font as "DejaVu Sa" + `before` + `last`, a name no installed font has:
// the last letters of its family and full names changed on every platform. (Wine keeps
// a font added from memory until the process ends, and a later one of the
// same name and style is not added: each changed copy has its own name.)
std::vector<uint8_t> renamed(const std::vector<uint8_t>& data, char last, char before = 'n') {
  std::vector<uint8_t> bytes = data;
  for (uint32_t i = 0, n = be16(data, 4); i < n; ++i) {
    if (std::memcmp(&data[12 + 16 * i], "name", 4) != 0) continue;
    const std::size_t names = be32(data, 12 + 16 * i + 8), strings = names + be16(data, names + 4);
    for (uint32_t r = 0, records = be16(data, names + 2); r < records; ++r) {
      const std::size_t record = names + 6 + 12 * r;
      const uint32_t id = be16(data, record + 6), length = be16(data, record + 8);
      if ((id != 1 && id != 4 && id != 16) || length == 0) continue;
      bytes[strings + be16(data, record + 10) + length - 1] = static_cast<uint8_t>(last);
      bytes[strings + be16(data, record + 10) + length - (be16(data, record) == 3 ? 3 : 2)] =
          static_cast<uint8_t>(before);
    }
  }
  return bytes;
}

class GdiOutlineFont : public OutlineFaces {
 protected:
  GdiOutlineFont() : OutlineFaces(dejaVuSans, "GDI") {}
};

// DejaVu Sans: ascent 0.93 em, descent 0.24 em, no line gap; GDI rounds its
// own way, so each within a range.
TEST_F(GdiOutlineFont, LineMetricsArePlausible) {
  struct Range {
    int least, most;
  };
  struct Expected {
    int32_t pixels;
    Range height, ascent;
  };
  for (const Expected& e : {Expected{16, {18, 20}, {14, 16}}, Expected{32, {36, 39}, {29, 31}}}) {
    SCOPED_TRACE(e.pixels);
    pellucet::GlyphSet set;
    ASSERT_NE(open(e.pixels, set), nullptr);
    EXPECT_GE(set.height, e.height.least);
    EXPECT_LE(set.height, e.height.most);
    EXPECT_GE(set.ascent, e.ascent.least);
    EXPECT_LE(set.ascent, e.ascent.most);
  }
}

// GDI's 65 levels of coverage are spread over 0..255.
TEST_F(GdiOutlineFont, GlyphsHaveTheirShapes) {
  Picture x;
  expectLetterShapes(x);
}

// The bold member of the family shares its name: its weight chooses it, and
// its stem, about four and a half pixels wide at 32, fills more columns.
TEST_F(GdiOutlineFont, StemsFillColumns) {
  Picture l;
  ASSERT_NO_FATAL_FAILURE(expectStemFillsAColumn(l));
  const std::vector<uint8_t> boldData = readAll(dejaVuSansBold);
  if (boldData.empty()) return;
  pellucet::GlyphSet boldSet;
  pellucet::OutlineFace* bold = open(boldData, 32, boldSet);
  ASSERT_NE(bold, nullptr);
  Picture boldL;
  ASSERT_TRUE(render(bold, U'l', boldL));
  EXPECT_GT(boldL.fullColumns(), l.fullColumns());
}

// Besides the shared characters: half a surrogate pair refused, a face drawn.
TEST_F(GdiOutlineFont, MissingCharactersAreRefused) {
  pellucet::OutlineFace* face = nullptr;
  ASSERT_NO_FATAL_FAILURE(expectMissingCharactersRefused(face));
  Picture picture;
  EXPECT_FALSE(render(face, 0xD800, picture));
  Picture smile;
  ASSERT_TRUE(render(face, 0x1F600, smile));
  EXPECT_GT(smile.shape.width, 8);
}

TEST_F(GdiOutlineFont, KerningPairs) {
  pellucet::OutlineFace* face = nullptr;
  ASSERT_NO_FATAL_FAILURE(expectKerningPairs(face));
  EXPECT_EQ(pellucet::outlineKerning(face, U'A', 0x1D538), 0);
}

// Besides the shared cases: the family name, which GDI chooses the font by,
// missing or out of reach, and line metrics that make no sense.
TEST_F(GdiOutlineFont, DamagedDataIsRefusedWithItsReason) {
  ASSERT_NO_FATAL_FAILURE(expectDamagedDataRefused({4, 11, 12, 331, 4096, data.size() / 2, data.size() - 1}));
  // Without its name the font cannot be chosen.
  std::vector<uint8_t> broken = data;
  const std::size_t name = 12 + 16 * 17;
  ASSERT_EQ(std::memcmp(broken.data() + name, "name", 4), 0);
  std::memcpy(broken.data() + name, "nam?", 4);
  expectRefused(broken, "GDI: the font's 'name' table gives no family name to choose it by");
  // Family names said to lie past the end of the 'name' table are not read.
  broken = data;
  const std::size_t names = be32(data, name + 8), namesLength = be32(data, name + 12);
  for (uint32_t i = 0, n = be16(data, names + 2); i < n; ++i) {
    const std::size_t record = names + 6 + 12 * i;
    if (be16(data, record) != 3 || (be16(data, record + 6) != 1 && be16(data, record + 6) != 16)) continue;
    const std::size_t offset = namesLength - be16(data, names + 4) - 4;  // two of its 22 bytes inside
    broken[record + 10] = static_cast<uint8_t>(offset >> 8);
    broken[record + 11] = static_cast<uint8_t>(offset);
  }
  expectRefused(broken, "GDI: the font's 'name' table gives no family name to choose it by");
  // GDI takes the font by the family name it gives, which may be an
  // installed font's (Wine's list holds the Linux fonts, DejaVu Sans among
  // them): a changed copy is then refused rather than drawn as the other.
  // Under a name of its own the same change is refused for what it is.
  const pellucet::LoadedFont tall = pellucet::loadFont(absurdLineMetrics(data).data(), data.size(), 16);
  EXPECT_FALSE(tall);
  const std::string why = pellucet::lastFailure();
  EXPECT_TRUE(why.find("GDI: the font's line metrics make no sense (height ") == 0 ||
              why == "GDI: choosing the font by its family name gave another font (one installed, or a stand-in)")
      << why;
  expectRefused(absurdLineMetrics(renamed(data, 'x')), "GDI: the font's line metrics make no sense (height ");
}

// Chosen by a name only it has, the private copy itself is drawn, as the
// original is.
TEST_F(GdiOutlineFont, ChosenByTheFamilyNameInItsNameTable) {
  const std::vector<uint8_t> sanz = renamed(data, 'z');
  pellucet::GlyphSet originalSet, renamedSet;
  pellucet::OutlineFace* original = open(data, 16, originalSet);
  pellucet::OutlineFace* copy = open(sanz, 16, renamedSet);
  ASSERT_TRUE(original && copy);
  EXPECT_EQ(renamedSet.height, originalSet.height);
  EXPECT_EQ(renamedSet.ascent, originalSet.ascent);
  Picture a, b;
  ASSERT_TRUE(render(original, U'g', a));
  ASSERT_TRUE(render(copy, U'g', b));
  EXPECT_EQ(std::vector<uint8_t>(b.bits.begin() + 3, b.bits.end()),
            std::vector<uint8_t>(a.bits.begin() + 3, a.bits.end()));
  EXPECT_EQ(b.shape.top, a.shape.top);
  EXPECT_EQ(b.shape.advance, a.shape.advance);
}

// Bytes changed in the table directory and in the tables read before GDI
// is asked ('name', 'maxp', 'OS/2'). Each round has a name of its own (Wine
// keeps every font added, and takes the first of a name), none of them
// DejaVu Sans.
TEST_F(GdiOutlineFont, ScrambledHeadersNeverCrash) {
  const Places places = {
      {0, 332}, {tableAt(data, "name"), 320}, {tableAt(data, "maxp"), 32}, {tableAt(data, "OS/2"), 86}};
  expectScramblesLoadOrAreRefused(150, places, [&](int round) {
    return renamed(data, static_cast<char>('a' + round % 26), static_cast<char>('A' + round / 26));
  });
}

TEST_F(GdiOutlineFont, LoadedThroughThePublicCall) {
  ASSERT_NO_FATAL_FAILURE(expectPublicFont(pellucet::loadFont(dejaVuSans, 24)));
  for (int pixels : {0, 2000}) {
    EXPECT_FALSE(pellucet::loadFont(data.data(), data.size(), pixels));
    EXPECT_EQ(std::string(pellucet::lastFailure()), "a pixel size of " + std::to_string(pixels) + " (1 to 1024)");
  }
}

// The GDI calls that make and give back what a face holds, counted through
// the executable's import table (the library is linked into it, and Wine's
// GetGuiResources counts nothing).
class Counted {
 public:
  static bool install() {
    static const bool done = patch("CreateCompatibleDC", &countDc, realCreateDc) &&
                             patch("DeleteDC", &countDeleteDc, realDeleteDc) &&
                             patch("CreateFontW", &countFont, realCreateFont) &&
                             patch("DeleteObject", &countDeleteObject, realDeleteObject) &&
                             patch("AddFontMemResourceEx", &countAdd, realAdd) &&
                             patch("RemoveFontMemResourceEx", &countRemove, realRemove);
    return done;
  }
  static int live() {
    std::lock_guard<std::mutex> hold(lock);
    return static_cast<int>(handles.size());
  }

 private:
  static inline std::mutex lock;
  static inline std::map<void*, int> handles;
  // Each stand-in makes the real call and counts what it made, or what it
  // gave back once that worked, and passes the answer on.
  template <typename H>
  static H made(H h) {
    std::lock_guard<std::mutex> hold(lock);
    if (h) ++handles[h];
    return h;
  }
  static BOOL gone(void* h, BOOL done) {
    std::lock_guard<std::mutex> hold(lock);
    const auto at = handles.find(h);
    if (done && at != handles.end() && --at->second == 0) handles.erase(at);
    return done;
  }
  static inline HDC(WINAPI* realCreateDc)(HDC) = nullptr;
  static inline BOOL(WINAPI* realDeleteDc)(HDC) = nullptr;
  static inline HFONT(WINAPI* realCreateFont)(int, int, int, int, int, DWORD, DWORD, DWORD, DWORD, DWORD, DWORD,
                                              DWORD, DWORD, LPCWSTR) = nullptr;
  static inline BOOL(WINAPI* realDeleteObject)(HGDIOBJ) = nullptr;
  static inline HANDLE(WINAPI* realAdd)(PVOID, DWORD, PVOID, DWORD*) = nullptr;
  static inline BOOL(WINAPI* realRemove)(HANDLE) = nullptr;
  static HDC WINAPI countDc(HDC dc) { return made(realCreateDc(dc)); }
  static BOOL WINAPI countDeleteDc(HDC dc) { return gone(dc, realDeleteDc(dc)); }
  static HFONT WINAPI countFont(int h, int w, int e, int o, int weight, DWORD i, DWORD u, DWORD s, DWORD c, DWORD op,
                                DWORD cp, DWORD q, DWORD pf, LPCWSTR name) {
    return made(realCreateFont(h, w, e, o, weight, i, u, s, c, op, cp, q, pf, name));
  }
  static BOOL WINAPI countDeleteObject(HGDIOBJ object) { return gone(object, realDeleteObject(object)); }
  static HANDLE WINAPI countAdd(PVOID data, DWORD size, PVOID reserved, DWORD* fonts) {
    return made(realAdd(data, size, reserved, fonts));
  }
  static BOOL WINAPI countRemove(HANDLE added) { return gone(added, realRemove(added)); }
  template <typename F>
  static bool patch(const char* function, F replacement, F& real) {
    auto* base = reinterpret_cast<uint8_t*>(GetModuleHandleA(nullptr));
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (imports.VirtualAddress == 0) return false;
    for (auto* d = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress); d->Name; ++d) {
      if (_stricmp(reinterpret_cast<const char*>(base + d->Name), "gdi32.dll") != 0) continue;
      auto* names = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + (d->OriginalFirstThunk ? d->OriginalFirstThunk
                                                                                             : d->FirstThunk));
      auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->FirstThunk);
      for (; names->u1.AddressOfData; ++names, ++slots) {
        if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
        const auto* byName = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
        if (std::strcmp(reinterpret_cast<const char*>(byName->Name), function) != 0) continue;
        DWORD protection = 0;
        if (!VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE, &protection)) return false;
        real = reinterpret_cast<F>(slots->u1.Function);
        slots->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
        VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, protection, &protection);
        return true;
      }
    }
    return false;
  }
};

// Two fonts of the same data, loaded and dropped: an added font, a device
// context and a font object each while loaded, nothing after.
TEST_F(GdiOutlineFont, DroppedFontsGiveBackTheirGdiObjects) {
  ASSERT_TRUE(Counted::install());
  const int before = Counted::live();
  const DWORD objects = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
  {
    pellucet::LoadedFont one = pellucet::loadFont(data.data(), data.size(), 16);
    pellucet::LoadedFont two = pellucet::loadFont(data.data(), data.size(), 16);
    ASSERT_TRUE(one && two) << pellucet::lastFailure();
    EXPECT_TRUE(one.covers(U'A') && two.covers(U'A'));
    EXPECT_EQ(Counted::live(), before + 6);
  }
  EXPECT_EQ(Counted::live(), before);
  // A refused font gives back what it took before its refusal.
  std::vector<uint8_t> noGlyphs = data;
  const std::size_t maxp = tableAt(data, "maxp");
  noGlyphs[maxp + 4] = noGlyphs[maxp + 5] = 0;
  const std::vector<uint8_t> tall = absurdLineMetrics(data);  // refused once GDI has it
  EXPECT_FALSE(pellucet::loadFont(noGlyphs.data(), noGlyphs.size(), 16));
  EXPECT_FALSE(pellucet::loadFont(tall.data(), tall.size(), 16));
  EXPECT_EQ(Counted::live(), before);
  EXPECT_EQ(GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS), objects);
}

}  // namespace
