// Outline fonts on Windows through GDI, under Wine: DejaVu Sans from the
// Linux fonts folder (drive Z), checked by the shapes of well-known glyphs,
// its kerning table, characters beyond U+FFFF, refusals of damaged data, and
// every GDI object, device context and added font given back.
#include <gtest/gtest.h>

#include <pellucet/pellucet.h>

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "api/font_files.h"

namespace {

constexpr const char* dejaVuSans = "Z:/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
constexpr const char* dejaVuSansBold = "Z:/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf";

std::vector<uint8_t> readAll(const char* path) {
  std::vector<uint8_t> bytes;
  if (std::FILE* f = std::fopen(path, "rb")) {
    uint8_t block[65536];
    for (std::size_t n; (n = std::fread(block, 1, sizeof block, f)) > 0;) bytes.insert(bytes.end(), block, block + n);
    std::fclose(f);
  }
  return bytes;
}

uint32_t be16(const std::vector<uint8_t>& d, std::size_t at) { return uint32_t{d.at(at)} << 8 | d.at(at + 1); }
uint32_t be32(const std::vector<uint8_t>& d, std::size_t at) { return be16(d, at) << 16 | be16(d, at + 2); }

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

// A glyph's picture, for looking at.
struct Picture {
  pellucet::GlyphShape shape;
  std::vector<uint8_t> bits;
  uint8_t at(int x, int y) const { return bits[shape.offset + static_cast<std::size_t>(y) * shape.pitch + x]; }
  int bottom() const { return shape.top + shape.height; }  // rows from the line's top to just below the picture
  int fullColumns() const {
    int full = 0;
    for (int x = 0; x < shape.width; ++x) {
      bool all = true;
      for (int y = 0; y < shape.height; ++y) all = all && at(x, y) == 255;
      full += all;
    }
    return full;
  }
};

class GdiOutlineFont : public ::testing::Test {
 protected:
  void SetUp() override {
    data = readAll(dejaVuSans);
    if (data.empty()) GTEST_SKIP() << dejaVuSans << " is not there (fonts-dejavu-core)";
  }
  void TearDown() override {
    for (pellucet::OutlineFace* face : faces) pellucet::closeOutline(face);
  }
  pellucet::OutlineFace* open(const std::vector<uint8_t>& bytes, int32_t pixels, pellucet::GlyphSet& set) {
    std::string why;
    pellucet::OutlineFace* face = pellucet::openOutline(bytes.data(), bytes.size(), pixels, set, why);
    EXPECT_NE(face, nullptr) << why;
    if (face) faces.push_back(face);
    return face;
  }
  // Renders into a fresh picture, after some bytes of another glyph so that
  // the offset counts.
  static bool render(pellucet::OutlineFace* face, char32_t code, Picture& picture) {
    picture.bits.assign(3, 0xAB);
    picture.shape.offset = picture.bits.size();
    return pellucet::renderOutlineGlyph(face, code, picture.shape, picture.bits);
  }
  std::vector<uint8_t> data;
  std::vector<pellucet::OutlineFace*> faces;
};

TEST_F(GdiOutlineFont, LineMetricsArePlausible) {
  pellucet::GlyphSet small, large;
  ASSERT_NE(open(data, 16, small), nullptr);
  ASSERT_NE(open(data, 32, large), nullptr);
  // DejaVu Sans: ascent 0.93 em, descent 0.24 em, no line gap.
  EXPECT_GE(small.height, 18);
  EXPECT_LE(small.height, 20);
  EXPECT_GE(small.ascent, 14);
  EXPECT_LE(small.ascent, 16);
  EXPECT_GE(large.height, 36);
  EXPECT_LE(large.height, 39);
  EXPECT_GE(large.ascent, 29);
  EXPECT_LE(large.ascent, 31);
}

TEST_F(GdiOutlineFont, GlyphsHaveTheirShapes) {
  pellucet::GlyphSet set;
  pellucet::OutlineFace* face = open(data, 16, set);
  ASSERT_NE(face, nullptr);
  Picture a, x, p;
  ASSERT_TRUE(render(face, U'A', a));
  ASSERT_TRUE(render(face, U'x', x));
  ASSERT_TRUE(render(face, U'p', p));
  // 'A' is antialiased, GDI's 65 levels spread over 0..255: empty corners,
  // full pixels and edges between.
  const auto first = a.bits.begin() + static_cast<std::ptrdiff_t>(a.shape.offset);
  EXPECT_EQ(a.shape.pitch, a.shape.width);
  EXPECT_EQ(a.bits.size(), a.shape.offset + static_cast<std::size_t>(a.shape.width) * a.shape.height);
  EXPECT_EQ(a.at(0, 0), 0);
  EXPECT_GT(std::count(first, a.bits.end(), 255), 0);
  EXPECT_GT(std::count_if(first, a.bits.end(), [](uint8_t v) { return v > 0 && v < 255; }), 4);
  // It is symmetric: each row's ink (half coverage or more) is mirrored,
  // within a pixel, about the middle.
  for (int y = 0; y < a.shape.height; ++y) {
    int left = -1, right = -1;
    for (int column = 0; column < a.shape.width; ++column) {
      if (a.at(column, y) < 128) continue;
      if (left < 0) left = column;
      right = column;
    }
    ASSERT_GE(left, 0) << "row " << y;
    EXPECT_LE(std::abs(left + right - (a.shape.width - 1)), 1) << "row " << y;
  }
  EXPECT_EQ(*std::max_element(first, a.bits.end()), 255);
  // 'A' and 'x' sit on the baseline, 'p' goes below it, 'x' is lower than 'A'.
  EXPECT_EQ(a.bottom(), set.ascent);
  EXPECT_EQ(x.bottom(), set.ascent);
  EXPECT_GE(p.bottom(), set.ascent + 3);
  EXPECT_LE(p.bottom(), set.height);
  EXPECT_GT(x.shape.top, a.shape.top + 2);
  EXPECT_GE(a.shape.top, 1);
  EXPECT_GE(a.shape.height, 11);
  EXPECT_GE(a.shape.width, 9);
  EXPECT_GE(a.shape.advance, a.shape.width - 1);
  EXPECT_LE(a.shape.advance, 12);
  EXPECT_LE(x.shape.left + x.shape.width, x.shape.advance + 1);
}

// A vertical stem fills whole columns; at 32 pixels DejaVu's is about three
// pixels wide, the bold one about four and a half. A space has nothing to
// draw but moves the pen.
TEST_F(GdiOutlineFont, StemsFillColumns) {
  pellucet::GlyphSet set, boldSet;
  pellucet::OutlineFace* face = open(data, 32, set);
  ASSERT_NE(face, nullptr);
  Picture l;
  ASSERT_TRUE(render(face, U'l', l));
  EXPECT_EQ(l.bottom(), set.ascent);
  EXPECT_GE(l.shape.height, 22);
  EXPECT_LE(l.shape.height, 26);
  EXPECT_GE(l.fullColumns(), 1);
  EXPECT_LE(l.fullColumns(), 3);
  Picture space;
  ASSERT_TRUE(render(face, U' ', space));
  EXPECT_EQ(space.shape.width * space.shape.height, 0);
  EXPECT_GT(space.shape.advance, 5);
  EXPECT_EQ(space.bits.size(), space.shape.offset);
  // The bold member of the family shares its name: its weight chooses it.
  const std::vector<uint8_t> boldData = readAll(dejaVuSansBold);
  if (boldData.empty()) return;
  pellucet::OutlineFace* bold = open(boldData, 32, boldSet);
  ASSERT_NE(bold, nullptr);
  Picture boldL;
  ASSERT_TRUE(render(bold, U'l', boldL));
  EXPECT_GT(boldL.fullColumns(), l.fullColumns());
}

TEST_F(GdiOutlineFont, MissingCharactersAreRefused) {
  pellucet::GlyphSet set;
  pellucet::OutlineFace* face = open(data, 16, set);
  ASSERT_NE(face, nullptr);
  Picture picture;
  EXPECT_FALSE(render(face, 0xE000, picture));   // private use
  EXPECT_FALSE(render(face, 0x4E00, picture));   // a CJK ideograph
  EXPECT_FALSE(render(face, 0xD800, picture));   // half a surrogate pair
  EXPECT_FALSE(render(face, 0x1D53A, picture));  // the gap in its double-struck capitals
  EXPECT_FALSE(render(face, 0x110000, picture));
  // Beyond U+FFFF through the font's own 32-bit character map: double-struck
  // A (a tall glyph on the baseline) and a face.
  ASSERT_TRUE(render(face, 0x1D538, picture));
  EXPECT_GT(picture.shape.width, 5);
  EXPECT_EQ(picture.bottom(), set.ascent);
  Picture smile;
  ASSERT_TRUE(render(face, 0x1F600, smile));
  EXPECT_GT(smile.shape.width, 8);
}

// DejaVu Sans has a 'kern' table with "AV" and "To", nothing between two 'l'.
TEST_F(GdiOutlineFont, KerningPairs) {
  pellucet::GlyphSet set;
  pellucet::OutlineFace* face = open(data, 32, set);
  ASSERT_NE(face, nullptr);
  EXPECT_LT(pellucet::outlineKerning(face, U'A', U'V'), 0);
  EXPECT_GT(pellucet::outlineKerning(face, U'A', U'V'), -8);
  EXPECT_LT(pellucet::outlineKerning(face, U'T', U'o'), 0);
  EXPECT_EQ(pellucet::outlineKerning(face, U'l', U'l'), 0);
  EXPECT_EQ(pellucet::outlineKerning(face, U'A', 0x1D538), 0);
}

TEST_F(GdiOutlineFont, DamagedDataIsRefusedWithItsReason) {
  const auto refused = [](const std::vector<uint8_t>& bytes, const std::string& reason) {
    const pellucet::LoadedFont font = pellucet::loadFont(bytes.data(), bytes.size(), 16);
    EXPECT_FALSE(font);
    EXPECT_NE(std::string(pellucet::lastFailure()).find(reason), std::string::npos) << pellucet::lastFailure();
  };
  for (std::size_t length : {std::size_t{4}, std::size_t{11}, std::size_t{12}, std::size_t{331}, std::size_t{4096},
                             data.size() / 2, data.size() - 1}) {
    SCOPED_TRACE(length);
    const std::vector<uint8_t> cut(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(length));
    refused(cut, length < 12    ? "GDI: the font's table directory lies past the end of the data"
                 : length < 332 ? "GDI: the font's table directory (20 tables) does not fit in the data"
                                : "runs past the end of the data (" + std::to_string(length) + " bytes)");
  }
  std::vector<uint8_t> broken = data;
  broken[4] = broken[5] = 0;
  refused(broken, "GDI: the font's table directory lists no tables");
  broken = data;
  const std::size_t glyf = 12 + 16 * 10;
  ASSERT_EQ(std::memcmp(broken.data() + glyf, "glyf", 4), 0);
  broken[glyf + 8] = 0xFF;
  refused(broken, "GDI: the font's 'glyf' table (bytes ");
  // Without its name the font cannot be chosen.
  broken = data;
  const std::size_t name = 12 + 16 * 17;
  ASSERT_EQ(std::memcmp(broken.data() + name, "name", 4), 0);
  std::memcpy(broken.data() + name, "nam?", 4);
  refused(broken, "GDI: the font's 'name' table gives no family name to choose it by");
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
  refused(broken, "GDI: the font's 'name' table gives no family name to choose it by");
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
  refused(absurdLineMetrics(renamed(data, 'x')), "GDI: the font's line metrics make no sense (height ");
  broken = data;
  const std::size_t maxp = be32(data, 12 + 16 * 16 + 8);
  ASSERT_EQ(std::memcmp(data.data() + 12 + 16 * 16, "maxp", 4), 0);
  broken[maxp + 4] = broken[maxp + 5] = 0;
  refused(broken, "GDI: the font has no glyphs");
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

// Bytes changed at random in the table directory and in the tables read
// before GDI is asked ('name', 'maxp', 'OS/2'), seeded so that a failure
// repeats: each font either loads and draws or is refused with a reason.
TEST_F(GdiOutlineFont, ScrambledHeadersNeverCrash) {
  std::mt19937 random(20240611);
  const std::size_t name = be32(data, 12 + 16 * 17 + 8), maxp = be32(data, 12 + 16 * 16 + 8);
  const std::size_t os2 = be32(data, 12 + 16 * 5 + 8);
  for (int round = 0; round < 150; ++round) {
    // A name a round (Wine keeps every font added, and takes the first of a
    // name), none of them DejaVu Sans.
    const char last = static_cast<char>('a' + round % 26), before = static_cast<char>('A' + round / 26);
    std::vector<uint8_t> bytes = renamed(data, last, before);
    for (int change = 0; change < 4; ++change) {
      const std::size_t where[] = {random() % 332, name + random() % 320, maxp + random() % 32, os2 + random() % 86};
      bytes[where[random() % 4]] = static_cast<uint8_t>(random());
    }
    const pellucet::LoadedFont font = pellucet::loadFont(bytes.data(), bytes.size(), 16);
    if (!font) {
      const std::string why = pellucet::lastFailure();
      EXPECT_TRUE(why.rfind("GDI: ", 0) == 0 || why == "not a PSF, BDF, TrueType or OpenType font") << why;
      continue;
    }
    for (char32_t code : {U'A', U'g', U' ', char32_t{0x1D538}}) font.covers(code);
  }
}

TEST_F(GdiOutlineFont, LoadedThroughThePublicCall) {
  const pellucet::LoadedFont font = pellucet::loadFont(dejaVuSans, 24);
  ASSERT_TRUE(font) << pellucet::lastFailure();
  EXPECT_TRUE(pellucet::LoadedFont::outlines());
  EXPECT_GT(font.height(), 24);
  EXPECT_LT(font.height(), 36);
  EXPECT_TRUE(font.covers(U'A'));
  EXPECT_TRUE(font.covers(0x1F600));
  EXPECT_FALSE(font.covers(0xE000));
  EXPECT_FALSE(font.covers(0xE000));  // the miss is kept, and found again
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
  static void made(void* h) {
    std::lock_guard<std::mutex> hold(lock);
    if (h) ++handles[h];
  }
  static void gone(void* h) {
    std::lock_guard<std::mutex> hold(lock);
    const auto at = handles.find(h);
    if (at != handles.end() && --at->second == 0) handles.erase(at);
  }
  static inline HDC(WINAPI* realCreateDc)(HDC) = nullptr;
  static inline BOOL(WINAPI* realDeleteDc)(HDC) = nullptr;
  static inline HFONT(WINAPI* realCreateFont)(int, int, int, int, int, DWORD, DWORD, DWORD, DWORD, DWORD, DWORD,
                                              DWORD, DWORD, LPCWSTR) = nullptr;
  static inline BOOL(WINAPI* realDeleteObject)(HGDIOBJ) = nullptr;
  static inline HANDLE(WINAPI* realAdd)(PVOID, DWORD, PVOID, DWORD*) = nullptr;
  static inline BOOL(WINAPI* realRemove)(HANDLE) = nullptr;
  static HDC WINAPI countDc(HDC dc) {
    HDC made_ = realCreateDc(dc);
    made(made_);
    return made_;
  }
  static BOOL WINAPI countDeleteDc(HDC dc) {
    const BOOL done = realDeleteDc(dc);
    if (done) gone(dc);
    return done;
  }
  static HFONT WINAPI countFont(int h, int w, int e, int o, int weight, DWORD i, DWORD u, DWORD s, DWORD c, DWORD op,
                                DWORD cp, DWORD q, DWORD pf, LPCWSTR name) {
    HFONT font = realCreateFont(h, w, e, o, weight, i, u, s, c, op, cp, q, pf, name);
    made(font);
    return font;
  }
  static BOOL WINAPI countDeleteObject(HGDIOBJ object) {
    const BOOL done = realDeleteObject(object);
    if (done) gone(object);
    return done;
  }
  static HANDLE WINAPI countAdd(PVOID data, DWORD size, PVOID reserved, DWORD* fonts) {
    HANDLE added = realAdd(data, size, reserved, fonts);
    made(added);
    return added;
  }
  static BOOL WINAPI countRemove(HANDLE added) {
    const BOOL done = realRemove(added);
    if (done) gone(added);
    return done;
  }
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
  const std::size_t maxp = be32(data, 12 + 16 * 16 + 8);
  noGlyphs[maxp + 4] = noGlyphs[maxp + 5] = 0;
  const std::vector<uint8_t> tall = absurdLineMetrics(data);  // refused once GDI has it
  EXPECT_FALSE(pellucet::loadFont(noGlyphs.data(), noGlyphs.size(), 16));
  EXPECT_FALSE(pellucet::loadFont(tall.data(), tall.size(), 16));
  EXPECT_EQ(Counted::live(), before);
  EXPECT_EQ(GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS), objects);
}

}  // namespace
