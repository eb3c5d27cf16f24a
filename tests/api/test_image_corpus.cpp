// Files from an encoder this project did not write: ImageMagick makes PNG
// and BMP files of every kind it can write, at test time, from pictures made
// here; loadImage must read each exactly as ImageMagick itself decodes it.
// Where ImageMagick is wrong (16-bit samples to 8 bits, gAMA, narrow BMP bit
// fields), the format gives the expected pixels from the file's own bytes;
// each case says so where it is checked. Kinds ImageMagick cannot write (RLE4,
// top-down rows) are made here from its files, and damaged copies of its
// files must be refused. Skipped where /usr/bin/convert is not ImageMagick.
#include <gtest/gtest.h>

#include <pellucet/pellucet.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

// Every picture is W x H: an odd width leaves part bytes in the rows at 1, 2
// and 4 bits, and interlacing needs 8 x 8 for all seven passes.
constexpr int W = 23, H = 17;
const char* const magick = "/usr/bin/convert";
// No colour chunk (so nothing is converted) and nothing else that varies.
const std::string plainPng =
    "-define png:exclude-chunks=gAMA,sRGB,cHRM,iCCP,bKGD,pHYs,tIME,tEXt,zTXt,iTXt,vpAg,oFFs,date ";

Bytes readAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

void writeAll(const std::string& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                              static_cast<std::streamsize>(bytes.size()));
}

uint32_t le16(const Bytes& b, std::size_t at) { return b.at(at) | b.at(at + 1) << 8; }
uint32_t le32(const Bytes& b, std::size_t at) { return le16(b, at) | le16(b, at + 2) << 16; }
uint32_t be32(const Bytes& b, std::size_t at) {
  return static_cast<uint32_t>(b.at(at) << 24 | b.at(at + 1) << 16 | b.at(at + 2) << 8 | b.at(at + 3));
}
void putLe32(Bytes& b, std::size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.at(at + i) = static_cast<uint8_t>(v >> 8 * i);
}

std::string hex(uint32_t v) {
  char s[12];
  std::snprintf(s, sizeof s, "%08X", v);
  return s;
}

// A PNG's chunks in order, and where each starts (its length field).
struct Chunk {
  std::string type;
  std::size_t at;
  uint32_t length;
};
std::vector<Chunk> chunksOf(const Bytes& png) {
  std::vector<Chunk> out;
  for (std::size_t at = 8; at + 12 <= png.size();) {
    const uint32_t length = be32(png, at);
    out.push_back({std::string(png.begin() + static_cast<std::ptrdiff_t>(at) + 4,
                               png.begin() + static_cast<std::ptrdiff_t>(at) + 8), at, length});
    at += 12 + std::size_t{length};
  }
  return out;
}
bool hasChunk(const Bytes& png, const char* type) {
  for (const Chunk& c : chunksOf(png)) {
    if (c.type == type) return true;
  }
  return false;
}

// A picture as ImageMagick reads it from a PAM file.
struct Pam {
  int channels, maxval;
  const char* tupleType;
  std::vector<uint32_t> samples;  // channels per pixel, rows top first
};

void writePam(const std::string& path, const Pam& p) {
  std::string text = "P7\nWIDTH " + std::to_string(W) + "\nHEIGHT " + std::to_string(H) + "\nDEPTH " +
                     std::to_string(p.channels) + "\nMAXVAL " + std::to_string(p.maxval) + "\nTUPLTYPE " +
                     p.tupleType + "\nENDHDR\n";
  Bytes b(text.begin(), text.end());
  for (uint32_t s : p.samples) {
    if (p.maxval > 255) b.push_back(static_cast<uint8_t>(s >> 8));
    b.push_back(static_cast<uint8_t>(s));
  }
  writeAll(path, b);
}

// The source pictures. The 16-bit ones have a pattern of their own in each
// channel over the whole range, few of them multiples of 257 (so the
// reduction to 8 bits shows), with 0 and 65535 at the corners and two values
// either side of a half step (257 k + 128 rounds down, 257 k + 129 up);
// alpha ramps from 0 to 65535.
void writeSources(const std::string& dir) {
  auto at = [](int x, int y, int salt) {
    if (x == 0 && y == 0) return 0u;
    if (x == W - 1 && y == H - 1) return 65535u;
    if (y == 0 && x == 1) return 257u * 100 + 128;
    if (y == 0 && x == 2) return 257u * 100 + 129;
    return static_cast<uint32_t>((x * 2861 + y * 3779 + salt * 17041) % 65536);
  };
  Pam rgba{4, 65535, "RGB_ALPHA", {}}, grey{2, 65535, "GRAYSCALE_ALPHA", {}};
  for (int y = 0; y < H; ++y) {
    for (int x = 0; x < W; ++x) {
      const uint32_t alpha = static_cast<uint32_t>((x + y * W) * 65535 / (W * H - 1));
      rgba.samples.insert(rgba.samples.end(), {at(x, y, 0), at(W - 1 - x, y, 1), at(x, H - 1 - y, 2), alpha});
      grey.samples.insert(grey.samples.end(), {at(x, y, 3), alpha});
    }
  }
  writePam(dir + "/rgba.pam", rgba);
  writePam(dir + "/grey.pam", grey);
  // Indexed pictures of k colours, opaque or with alpha (0, 255 and between):
  // some rows of runs, some of two colours in turn, some with no pattern,
  // so that RLE files have every kind of run.
  for (int k : {2, 4, 16, 200}) {
    Pam opaque{3, 255, "RGB", {}}, clear{4, 255, "RGB_ALPHA", {}};
    for (int y = 0; y < H; ++y) {
      for (int x = 0; x < W; ++x) {
        const int i = y % 3 == 0                ? (x / 4 + y) % k
                      : y % 3 == 1 && x < 15 ? (x % 2 ? y : y + 7) % k
                                             : (x * 7 + y * 3 + x * y) % k;
        const uint32_t r = (i * 97 + 13) % 256, g = (i * 53 + 200) % 256, b = (i * 151 + 31) % 256;
        const uint32_t a = i == 0 ? 0 : i % 3 == 1 ? 255 : (i * 37) % 255;
        opaque.samples.insert(opaque.samples.end(), {r, g, b});
        clear.samples.insert(clear.samples.end(), {r, g, b, a});
      }
    }
    writePam(dir + "/palette" + std::to_string(k) + ".pam", opaque);
    writePam(dir + "/palette" + std::to_string(k) + "a.pam", clear);
  }
  // One fully transparent colour (or grey) used by no opaque pixel: written
  // as grey or RGB with a tRNS chunk. The 2-bit grey one uses only the four
  // levels 2 bits hold.
  Pam key{4, 255, "RGB_ALPHA", {}}, greyKey{2, 255, "GRAYSCALE_ALPHA", {}}, grey2Key{2, 255, "GRAYSCALE_ALPHA", {}};
  for (int y = 0; y < H; ++y) {
    for (int x = 0; x < W; ++x) {
      const bool hole = (x + 2 * y) % 7 == 0;
      const uint32_t v = static_cast<uint32_t>(x * 11 + y * 3) % 256;
      key.samples.insert(key.samples.end(), {hole ? 1 : (x * 11) % 256u, hole ? 2 : (y * 15) % 256u,
                                             hole ? 3 : (x * y) % 256u, hole ? 0 : 255u});
      greyKey.samples.insert(greyKey.samples.end(), {hole ? 7 : v == 7 ? 8 : v, hole ? 0 : 255u});
      const uint32_t level = (x + y) % 3 == 0 ? 0 : 0x55u + 0x55u * ((x + y) % 3);
      grey2Key.samples.insert(grey2Key.samples.end(), {hole ? 0x55 : level, hole ? 0 : 255u});
    }
  }
  writePam(dir + "/key.pam", key);
  writePam(dir + "/greykey.pam", greyKey);
  writePam(dir + "/grey2key.pam", grey2Key);
}

// ImageMagick's decoding of a W x H file, as 0xAARRGGBB words: from 8-bit
// RGBA, or from 16-bit RGBA (least significant byte first) reduced here to 8
// bits as round(v / 257).
std::vector<uint32_t> asArgb(const Bytes& rgba, bool sixteen) {
  std::vector<uint32_t> out;
  const std::size_t step = sixteen ? 2 : 1;
  auto channel = [&](std::size_t i) { return sixteen ? (le16(rgba, i) + 128) / 257 : rgba[i]; };
  for (std::size_t i = 0; i + 4 * step <= rgba.size(); i += 4 * step) {
    out.push_back(channel(i + 3 * step) << 24 | channel(i) << 16 | channel(i + step) << 8 | channel(i + 2 * step));
  }
  return out;
}

// Every pixel of `image` against `want`; the failure names the first few
// that differ.
::testing::AssertionResult samePixels(const pellucet::Image& image, const std::vector<uint32_t>& want) {
  if (want.size() != std::size_t{W} * H) return ::testing::AssertionFailure() << "no decoding to compare with";
  if (!image) return ::testing::AssertionFailure() << "not loaded: " << pellucet::lastFailure();
  if (image.width() != W || image.height() != H) {
    return ::testing::AssertionFailure() << "loaded as " << image.width() << " x " << image.height();
  }
  int wrong = 0;
  std::ostringstream first;
  for (int y = 0; y < H; ++y) {
    for (int x = 0; x < W; ++x) {
      const uint32_t w = want[static_cast<std::size_t>(y * W + x)], got = image.pixel(x, y);
      if (got != w && wrong++ < 4) first << " (" << x << "," << y << ") want " << hex(w) << " got " << hex(got);
    }
  }
  if (wrong) return ::testing::AssertionFailure() << wrong << " pixels differ:" << first.str();
  return ::testing::AssertionSuccess();
}

}  // namespace

// One folder per run of the executable; each file is made once, the first
// time a test asks for it, by ImageMagick run two at a time.
class Corpus : public ::testing::Test {
 public:
  // A file ImageMagick writes: `name` (after a format prefix such as BMP3:
  // where one is wanted) from a source picture with options. Files of 16
  // bits a channel are decoded at 16 bits: ImageMagick's own reduction to 8
  // truncates (v * 255 / 65535 rounded down, of the opacity for alpha), so a
  // 16-bit PNG sample 29010 (0x7152, 112.88 x 257) comes out 112, not 113.
  struct Made {
    std::string name, source, options;
    std::string prefix = "";
    bool sixteen = false;
  };
  static void SetUpTestSuite() {
    std::FILE* version = popen((std::string(magick) + " -version 2>/dev/null").c_str(), "r");
    char line[200] = "";
    if (version) {
      if (!std::fgets(line, sizeof line, version)) line[0] = 0;
      pclose(version);
    }
    if (!std::strstr(line, "ImageMagick")) {
      missing = std::string(magick) + " is not ImageMagick or is missing (scripts/deps test installs it)";
      return;
    }
    std::string folder = ::testing::TempDir() + "pellucet-corpus-XXXXXX";
    if (!mkdtemp(folder.data())) {
      missing = "no temporary folder";
      return;
    }
    dir = folder;
    writeSources(dir);
    // The indexed pictures as palette PNGs too: ImageMagick writes a palette
    // BMP only from a picture that has one, and quantizing one takes it
    // most of a second.
    run({std::string(magick) + " palette2.pam palette4.pam palette16.pam palette200.pam " + plainPng +
         "-set filename:f %t +adjoin \"png:%[filename:f].png\""});
  }
  // A run with a failure leaves the files for a look.
  static void TearDownTestSuite() {
    if (dir.empty()) return;
    if (::testing::UnitTest::GetInstance()->failed_test_count() > 0) {
      std::printf("The files are left in %s\n", dir.c_str());
    } else {
      std::filesystem::remove_all(dir);
    }
    dir.clear();
    made.clear();
  }

 protected:
  void SetUp() override {
    if (!missing.empty()) GTEST_SKIP() << missing;
  }

  static std::string path(const std::string& name) { return dir + "/" + name; }

  // Shell lines run in the folder, two at a time; true when all succeed,
  // else the test fails with what they printed.
  static bool run(const std::vector<std::string>& lines) {
    if (lines.empty()) return true;
    static int batch = 0;
    const std::string jobs = path("jobs" + std::to_string(++batch)), log = jobs + ".log";
    std::string text;
    for (const std::string& l : lines) text += l + "\n";
    writeAll(jobs, Bytes(text.begin(), text.end()));
    // One thread each: two runs at a time already use both cores.
    const std::string command = "cd '" + dir + "' && MAGICK_THREAD_LIMIT=1 xargs -d '\\n' -n 1 -P 2 sh -c < '" + jobs +
                                "' > '" + log + "' 2>&1";
    if (std::system(command.c_str()) == 0) return true;
    const Bytes printed = readAll(log);
    ADD_FAILURE() << "ImageMagick failed:\n" << text << std::string(printed.begin(), printed.end());
    return false;
  }

  // Writes those not made yet, one ImageMagick run each, then decodes them
  // from the files alone.
  static void make(const std::vector<Made>& files) {
    std::vector<std::string> lines, narrow, wide;
    for (const Made& f : files) {
      if (!made.insert(f.name).second) continue;
      lines.push_back(std::string(magick) + " " + f.source + " " + f.options + " " + f.prefix + f.name);
      (f.sixteen ? wide : narrow).push_back(f.name);
    }
    if (run(lines)) decode(narrow), decode(wide, true);
  }
  // ImageMagick's decoding of files, one run for all: name.rgba (or
  // name.rgba16) beside each.
  static void decode(const std::vector<std::string>& names, bool sixteen = false) {
    if (names.empty()) return;
    std::string line = magick;
    for (const std::string& n : names) line += " " + n;
    line += sixteen ? " -depth 16 -endian LSB" : " -depth 8";
    run({line + " -set filename:f %f +adjoin \"rgba:%[filename:f]." + (sixteen ? "rgba16\"" : "rgba\"")});
  }
  static std::vector<uint32_t> decoded(const std::string& name) {
    const Bytes sixteen = readAll(path(name + ".rgba16"));
    return sixteen.empty() ? asArgb(readAll(path(name + ".rgba")), false) : asArgb(sixteen, true);
  }
  static pellucet::Image load(const std::string& name) { return pellucet::loadImage(path(name).c_str()); }
  // A PNG marked linear (gAMA 1.0), as an sRGB screen shows it.
  static std::vector<uint32_t> linearAsShown(const std::string& name);

  static std::string dir, missing;
  static std::set<std::string> made;
};

std::string Corpus::dir, Corpus::missing;
std::set<std::string> Corpus::made;

namespace {

// What a PNG file must be, so that the corpus holds what it claims. Where
// ImageMagick chooses the kind itself, it is because asking for it loses the
// transparency: -define png:color-type=3 writes no tRNS, and grey at 2 bits
// asked for writes the transparent grey as 8 bits, which libpng drops.
struct PngKind {
  const char* name;
  const char* source;
  const char* options;
  const char* prefix;
  int depth, colourType;
  bool tRNS;
};

const PngKind pngKinds[] = {
    {"grey1", "grey.pam", "-alpha off -define png:color-type=0 -define png:bit-depth=1", "", 1, 0, false},
    {"grey2", "grey.pam", "-alpha off -define png:color-type=0 -define png:bit-depth=2", "", 2, 0, false},
    {"grey4", "grey.pam", "-alpha off -define png:color-type=0 -define png:bit-depth=4", "", 4, 0, false},
    {"grey8", "grey.pam", "-alpha off -define png:color-type=0 -define png:bit-depth=8", "", 8, 0, false},
    {"grey16", "grey.pam", "-alpha off -define png:color-type=0 -define png:bit-depth=16", "", 16, 0, false},
    {"grey2key", "grey2key.pam", "", "", 2, 0, true},
    {"grey8key", "greykey.pam", "-define png:color-type=0 -define png:bit-depth=8", "", 8, 0, true},
    {"grey16key", "greykey.pam", "-define png:color-type=0 -define png:bit-depth=16", "", 16, 0, true},
    {"greyalpha8", "grey.pam", "-define png:color-type=4 -define png:bit-depth=8", "", 8, 4, false},
    {"greyalpha16", "grey.pam", "-define png:color-type=4 -define png:bit-depth=16", "", 16, 4, false},
    {"rgb8", "rgba.pam", "-alpha off -define png:color-type=2 -define png:bit-depth=8", "", 8, 2, false},
    {"rgb16", "rgba.pam", "-alpha off -define png:color-type=2 -define png:bit-depth=16", "", 16, 2, false},
    {"rgb8key", "key.pam", "-define png:color-type=2 -define png:bit-depth=8", "", 8, 2, true},
    {"rgb16key", "key.pam", "-define png:color-type=2 -define png:bit-depth=16", "", 16, 2, true},
    {"rgba8", "rgba.pam", "-define png:color-type=6 -define png:bit-depth=8", "", 8, 6, false},
    {"rgba16", "rgba.pam", "-define png:color-type=6 -define png:bit-depth=16", "", 16, 6, false},
    {"palette1", "palette2.pam", "-define png:color-type=3 -define png:bit-depth=1", "", 1, 3, false},
    {"palette2", "palette4.pam", "-define png:color-type=3 -define png:bit-depth=2", "", 2, 3, false},
    {"palette4", "palette16.pam", "-define png:color-type=3 -define png:bit-depth=4", "", 4, 3, false},
    {"palette8", "palette200.pam", "-define png:color-type=3 -define png:bit-depth=8", "", 8, 3, false},
    {"palette1trns", "palette2a.pam", "", "", 1, 3, true},
    {"palette2trns", "palette4a.pam", "", "", 2, 3, true},
    {"palette4trns", "palette16a.pam", "", "", 4, 3, true},
    {"palette8trns", "palette200a.pam", "", "", 8, 3, true},
    {"png8", "palette200.pam", "", "PNG8:", 8, 3, false},
    {"png8alpha", "rgba.pam", "", "PNG8:", 8, 3, true},
};

}  // namespace

// Every colour type and bit depth, interlaced and not, with no colour chunk:
// exactly ImageMagick's pixels (16-bit channels are round(v / 257) on both
// sides).
TEST_F(Corpus, PngEveryColourTypeAndDepth) {
  std::vector<Made> files;
  for (const PngKind& k : pngKinds) {
    for (const char* interlace : {"none", "PNG"}) {
      files.push_back({std::string(k.name) + "-" + interlace + ".png", k.source,
                       plainPng + k.options + " -interlace " + interlace, k.prefix, k.depth == 16});
    }
  }
  make(files);
  for (std::size_t i = 0; i < files.size(); ++i) {
    const Made& f = files[i];
    const PngKind& k = pngKinds[i / 2];
    SCOPED_TRACE(f.name);
    const Bytes png = readAll(path(f.name));
    ASSERT_GT(png.size(), 33u);
    EXPECT_EQ(png[24], k.depth);
    EXPECT_EQ(png[25], k.colourType);
    EXPECT_EQ(png[28], f.options.find("interlace PNG") != std::string::npos ? 1 : 0);
    EXPECT_EQ(hasChunk(png, "tRNS"), k.tRNS);
    for (const char* colour : {"gAMA", "sRGB", "iCCP", "cHRM"}) EXPECT_FALSE(hasChunk(png, colour)) << colour;
    EXPECT_TRUE(samePixels(load(f.name), decoded(f.name)));
  }
}

namespace {

// A sample of a file whose gAMA says its samples are linear (1.0), as an
// sRGB screen (gamma 2.2) shows it: 255 (v / max)^(1 / 2.2), rounded.
uint32_t onSrgbScreen(uint32_t v, uint32_t max) {
  return static_cast<uint32_t>(std::floor(255 * std::pow(static_cast<double>(v) / max, 1 / 2.2) + 0.5));
}

// The pixels of a linear file as shown, from its 16-bit samples as stored.
std::vector<uint32_t> shownLinear(const Bytes& rgba16) {
  std::vector<uint32_t> out;
  for (std::size_t i = 0; i + 8 <= rgba16.size(); i += 8) {
    out.push_back((le16(rgba16, i + 6) + 128) / 257 << 24 | onSrgbScreen(le16(rgba16, i), 65535) << 16 |
                  onSrgbScreen(le16(rgba16, i + 2), 65535) << 8 | onSrgbScreen(le16(rgba16, i + 4), 65535));
  }
  return out;
}

// A file marked linear by ImageMagick: the rest as for the plain files.
const std::string linearPng =
    "-set gamma 1.0 -define png:exclude-chunks=sRGB,cHRM,iCCP,bKGD,pHYs,tIME,tEXt,zTXt,iTXt,vpAg,oFFs,date ";

}  // namespace

// The samples as stored: ImageMagick's decoding of the same file with its
// gAMA chunk taken out.
std::vector<uint32_t> Corpus::linearAsShown(const std::string& name) {
  Bytes png = readAll(path(name));
  const std::vector<Chunk> chunks = chunksOf(png);
  const auto gama = std::find_if(chunks.begin(), chunks.end(), [](const Chunk& c) { return c.type == "gAMA"; });
  if (gama == chunks.end() || be32(png, gama->at + 8) != 100000) {
    ADD_FAILURE() << name << " is not marked linear";
    return {};
  }
  png.erase(png.begin() + static_cast<std::ptrdiff_t>(gama->at),
            png.begin() + static_cast<std::ptrdiff_t>(gama->at + 12 + gama->length));
  writeAll(path(name + ".stored.png"), png);
  decode({name + ".stored.png"}, true);
  return shownLinear(readAll(path(name + ".stored.png.rgba16")));
}

// gAMA is honoured, on an sRGB screen, as the PNG format gives it for a
// decoder: a file marked linear (gAMA 1.0) shows its samples through the
// power 1 / 2.2, alpha as stored. ImageMagick's decoding of such a file
// takes it through the sRGB curve instead, which differs most in the darks
// (a linear 0x01 is 0x15 by the power, 0x0D by the curve), so the expected
// pixels come from the samples as stored. ImageMagick's own files, marked
// 1/2.2 (sRGB's gamma, with cHRM, bKGD and text), show as stored.
TEST_F(Corpus, PngGammaIsHonoured) {
  const std::vector<Made> linear = {
      {"linear-rgb8.png", "rgba.pam", linearPng + "-alpha off -define png:color-type=2 -define png:bit-depth=8"},
      {"linear-rgba8.png", "rgba.pam", linearPng + "-define png:color-type=6 -define png:bit-depth=8 -interlace PNG"},
      {"linear-palette4trns.png", "palette16a.pam", linearPng},
      {"linear-grey4.png", "grey.pam", linearPng + "-alpha off -define png:color-type=0 -define png:bit-depth=4"}};
  make(linear);
  for (const Made& f : linear) {
    SCOPED_TRACE(f.name);
    EXPECT_TRUE(samePixels(load(f.name), linearAsShown(f.name)));
  }
  make({{"magick-rgba.png", "rgba.pam", "-depth 8 -define png:color-type=6"},
        {"magick-palette.png", "palette200.pam", ""}});
  for (const char* name : {"magick-rgba.png", "magick-palette.png"}) {
    SCOPED_TRACE(name);
    const Bytes png = readAll(path(name));
    EXPECT_TRUE(hasChunk(png, "gAMA") && hasChunk(png, "cHRM"));
    EXPECT_TRUE(samePixels(load(name), decoded(name)));
  }
}

// 16-bit samples through the gamma, to the last step: the darkest are where
// a table of too few entries shows (65535 x (6 / 255)^2.2 is 17, so a
// linear 17 is 0x06).
TEST_F(Corpus, PngGammaIsHonouredAt16Bits) {
  make({{"linear-rgba16.png", "rgba.pam", linearPng + "-define png:color-type=6 -define png:bit-depth=16", "", true}});
  EXPECT_TRUE(samePixels(load("linear-rgba16.png"), linearAsShown("linear-rgba16.png")));
}

namespace {

// What a BMP file must be: its header's size, bits a pixel and compression.
struct BmpKind {
  const char* name;
  const char* source;
  const char* options;
  const char* prefix;
  uint32_t headerSize, bits, compression;
};

// ImageMagick writes a 124-byte header by default, 108 bytes with no
// rendering intent, 40 for BMP3: and 12 (OS/2) for BMP2:.
const BmpKind bmpKinds[] = {
    {"1.bmp", "palette2.png", "", "", 124, 1, 0},
    {"1-v4.bmp", "palette2.png", "-intent Undefined", "", 108, 1, 0},
    {"1-v3.bmp", "palette2.png", "", "BMP3:", 40, 1, 0},
    {"1-os2.bmp", "palette2.png", "", "BMP2:", 12, 1, 0},
    {"4.bmp", "palette16.png", "", "", 124, 4, 0},
    {"4-of-4-colours.bmp", "palette4.png", "", "", 124, 4, 0},
    {"4-v3.bmp", "palette16.png", "", "BMP3:", 40, 4, 0},
    {"4-os2.bmp", "palette16.png", "", "BMP2:", 12, 4, 0},
    {"8.bmp", "palette200.png", "-compress none", "", 124, 8, 0},
    {"8-v3.bmp", "palette200.png", "-compress none", "BMP3:", 40, 8, 0},
    {"8-os2.bmp", "palette200.png", "", "BMP2:", 12, 8, 0},
    {"24.bmp", "rgba.pam", "-alpha off", "", 124, 24, 0},
    {"24-v4.bmp", "rgba.pam", "-alpha off -intent Undefined", "", 108, 24, 0},
    {"24-v3.bmp", "rgba.pam", "-alpha off", "BMP3:", 40, 24, 0},
    {"24-os2.bmp", "rgba.pam", "-alpha off", "BMP2:", 12, 24, 0},
    {"32.bmp", "rgba.pam", "", "", 124, 32, 3},
    {"32-v4.bmp", "rgba.pam", "-intent Undefined", "", 108, 32, 3},
    {"32-v3.bmp", "rgba.pam", "-define bmp3:alpha=true", "BMP3:", 40, 32, 0},
    {"16-rgb565.bmp", "rgba.pam", "-alpha off -define bmp:subtype=RGB565", "", 124, 16, 3},
    {"16-rgb555.bmp", "rgba.pam", "-alpha off -define bmp:subtype=RGB555", "", 124, 16, 3},
};

// 8-bit palettes are RLE8 unless told not to. ImageMagick never writes
// RLE4: -compress RLE with 16 colours gives RLE8 too.
const BmpKind rleKinds[] = {
    {"8-rle.bmp", "palette200.png", "", "", 124, 8, 1},
    {"8-rle-of-16-colours.bmp", "palette16.png", "-compress RLE", "", 124, 8, 1},
    {"8-v3-rle.bmp", "palette200.png", "", "BMP3:", 40, 8, 1},
};

// Alpha and colour in 16 bits a pixel, and the masks (red, green, blue,
// alpha) they must have. ImageMagick 6.9.11 writes no other subtypes:
// XRGB1555 and XRGB4444 come out 24-bit.
struct MaskKind {
  BmpKind kind;
  uint32_t masks[4];
};
const MaskKind maskKinds[] = {
    {{"16-argb1555.bmp", "rgba.pam", "-define bmp:subtype=ARGB1555", "", 124, 16, 3}, {0x7C00, 0x03E0, 0x001F, 0x8000}},
    {{"16-argb4444.bmp", "rgba.pam", "-define bmp:subtype=ARGB4444", "", 124, 16, 3}, {0x0F00, 0x00F0, 0x000F, 0xF000}},
    {{"16-argb4444-v4.bmp", "rgba.pam", "-define bmp:subtype=ARGB4444 -intent Undefined", "", 108, 16, 3},
     {0x0F00, 0x00F0, 0x000F, 0xF000}},
};

template <std::size_t n>
std::vector<Corpus::Made> filesOf(const BmpKind (&kinds)[n]) {
  std::vector<Corpus::Made> files;
  for (const BmpKind& k : kinds) files.push_back({k.name, k.source, k.options, k.prefix});
  return files;
}

// The header fields a kind promises.
void expectHeader(const Bytes& bmp, const BmpKind& k) {
  ASSERT_GT(bmp.size(), 34u);
  EXPECT_EQ(le32(bmp, 14), k.headerSize);
  EXPECT_EQ(le16(bmp, k.headerSize == 12 ? 24 : 28), k.bits);
  EXPECT_EQ(k.headerSize == 12 ? 0 : le32(bmp, 30), k.compression);
}

// A BMP's rows, bottom first, as stored (without the padding to 4 bytes).
struct Rows {
  uint32_t at, bytes;  // where the first row starts; bytes from row to row
};
Rows rowsOf(const Bytes& bmp) {
  const uint32_t headerSize = le32(bmp, 14), bits = le16(bmp, headerSize == 12 ? 24 : 28);
  return {le32(bmp, 10), (W * bits + 31) / 32 * 4};
}

// A channel of n bits widened to 8 by repeating its bits from the top: 0xF
// at 4 bits is 0xFF (v * 17), 1 at 1 bit is 0xFF, 31 at 5 bits is 0xFF.
uint32_t widened(uint32_t v, int bits) {
  uint32_t out = 0;
  for (int shift = 8 - bits; shift > -bits; shift -= bits) out |= shift >= 0 ? v << shift : v >> -shift;
  return out & 0xFF;
}

uint32_t field(uint32_t word, uint32_t mask) {
  if (!mask) return 0;
  int shift = 0, bits = 0;
  while (!(mask >> shift & 1)) ++shift;
  while (mask >> (shift + bits) & 1) ++bits;
  return widened((word & mask) >> shift, bits);
}

// The pixels of a bottom-up 16-bit BMP with alpha, as its words and masks
// say.
std::vector<uint32_t> fromWords(const Bytes& bmp, const uint32_t (&masks)[4]) {
  const Rows rows = rowsOf(bmp);
  std::vector<uint32_t> out;
  for (int y = 0; y < H; ++y) {
    for (int x = 0; x < W; ++x) {
      const uint32_t w = le16(bmp, rows.at + (H - 1 - y) * rows.bytes + 2 * x);
      out.push_back(field(w, masks[3]) << 24 | field(w, masks[0]) << 16 | field(w, masks[1]) << 8 |
                    field(w, masks[2]));
    }
  }
  return out;
}

}  // namespace

// Every depth and header ImageMagick writes, uncompressed: exactly its
// pixels.
TEST_F(Corpus, BmpEveryDepthAndHeader) {
  make(filesOf(bmpKinds));
  for (const BmpKind& k : bmpKinds) {
    SCOPED_TRACE(k.name);
    expectHeader(readAll(path(k.name)), k);
    EXPECT_TRUE(samePixels(load(k.name), decoded(k.name)));
  }
}

// 16-bit alpha bit fields. ImageMagick leaves the low bits of a narrow
// channel empty: 4-bit 0x3 comes out 0x30 (not 0x33), 0xF 0xF0 (not 0xFF,
// so opaque is not opaque: the word 0xFF27 is 0xF0F02070, not 0xFFFF2277),
// and ARGB1555's alpha bit 1 comes out 0x80 (not 0xFF). The expected pixels
// are the file's words, each channel widened by repeating its bits.
TEST_F(Corpus, BmpAlphaBitFieldsWidenByRepeatingBits) {
  std::vector<Made> files;
  for (const MaskKind& m : maskKinds) files.push_back({m.kind.name, m.kind.source, m.kind.options, m.kind.prefix});
  make(files);
  for (const MaskKind& m : maskKinds) {
    SCOPED_TRACE(m.kind.name);
    const Bytes bmp = readAll(path(m.kind.name));
    expectHeader(bmp, m.kind);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(le32(bmp, 54 + 4 * i), m.masks[i]) << "mask " << i;
    EXPECT_TRUE(samePixels(load(m.kind.name), fromWords(bmp, m.masks)));
  }
}

namespace {

// Files of bmpKinds, by name.
std::vector<Corpus::Made> named(std::initializer_list<const char*> names) {
  std::vector<Corpus::Made> files;
  for (const char* name : names) {
    for (const BmpKind& k : bmpKinds) {
      if (std::string(k.name) == name) files.push_back({k.name, k.source, k.options, k.prefix});
    }
  }
  return files;
}

// An uncompressed 4- or 8-bit BMP's palette indices, rows bottom first.
std::vector<std::vector<uint8_t>> indicesOf(const Bytes& bmp) {
  const Rows rows = rowsOf(bmp);
  const bool four = le16(bmp, 28) == 4;
  std::vector<std::vector<uint8_t>> out(H);
  for (int r = 0; r < H; ++r) {
    for (int x = 0; x < W; ++x) {
      const uint8_t b = bmp.at(rows.at + r * rows.bytes + (four ? x / 2 : x));
      out[r].push_back(four ? (x % 2 ? b & 15 : b >> 4) : b);
    }
  }
  return out;
}

// Indices as RLE8 or RLE4 with every kind of code: runs of one index (at 4
// bits, of two in turn), absolute blocks padded to 16 bits, short runs where
// a block would be under 3, an end of line after each row and an end of
// picture.
Bytes rleOf(const std::vector<std::vector<uint8_t>>& rows, bool four) {
  Bytes out;
  for (const std::vector<uint8_t>& row : rows) {
    const std::size_t n = row.size();
    auto run = [&](std::size_t at) {
      std::size_t k = 1;
      while (at + k < n && k < 255 && row[at + k] == row[at + (four ? k % 2 : 0)]) ++k;
      return k >= (four ? 4u : 3u) ? k : 0;
    };
    std::size_t x = 0;
    while (x < n) {
      if (const std::size_t k = run(x)) {
        out.push_back(static_cast<uint8_t>(k));
        out.push_back(four ? static_cast<uint8_t>(row[x] << 4 | row[x + 1]) : row[x]);
        x += k;
        continue;
      }
      // Blocks of at most 5, so that some fill an odd number of bytes and
      // some pieces are too short for a block.
      std::size_t k = 1;
      while (x + k < n && k < 5 && !run(x + k)) ++k;
      if (k < 3) {  // 1 and 2 after a 0 mean end of picture and a move
        for (std::size_t i = 0; i < k; i += four ? 2 : 1) {
          const std::size_t count = four ? std::min<std::size_t>(2, k - i) : 1;
          out.push_back(static_cast<uint8_t>(count));
          out.push_back(four ? static_cast<uint8_t>(row[x + i] << 4 | (count > 1 ? row[x + i + 1] : 0)) : row[x + i]);
        }
      } else {
        out.push_back(0);
        out.push_back(static_cast<uint8_t>(k));
        const std::size_t start = out.size();
        for (std::size_t i = 0; i < k; i += four ? 2 : 1) {
          out.push_back(four ? static_cast<uint8_t>(row[x + i] << 4 | (i + 1 < k ? row[x + i + 1] : 0)) : row[x + i]);
        }
        if ((out.size() - start) % 2) out.push_back(0);
      }
      x += k;
    }
    out.push_back(0);
    out.push_back(0);
  }
  out.push_back(0);
  out.push_back(1);
  return out;
}

// An uncompressed palette BMP (not OS/2) with its rows as RLE: the headers
// and palette kept, the compression, image size and file size set.
Bytes asRle(const Bytes& bmp) {
  const bool four = le16(bmp, 28) == 4;
  const Bytes rle = rleOf(indicesOf(bmp), four);
  Bytes out(bmp.begin(), bmp.begin() + le32(bmp, 10));
  out.insert(out.end(), rle.begin(), rle.end());
  putLe32(out, 2, static_cast<uint32_t>(out.size()));
  putLe32(out, 30, four ? 2 : 1);
  putLe32(out, 34, static_cast<uint32_t>(rle.size()));
  return out;
}

// The same picture stored top-down: rows in the other order, the height
// negative.
Bytes topDown(const Bytes& bmp) {
  const Rows rows = rowsOf(bmp);
  Bytes out = bmp;
  for (int r = 0; r < H; ++r) {
    std::copy_n(bmp.begin() + rows.at + r * rows.bytes, rows.bytes, out.begin() + rows.at + (H - 1 - r) * rows.bytes);
  }
  putLe32(out, 22, static_cast<uint32_t>(-H));
  return out;
}

}  // namespace

// RLE8 as ImageMagick writes it: each row is coded as wide as its padded
// rows would be (a run of 24 pixels in a row of 23, the last one index 0), a
// run past the right edge that is not part of the picture. ImageMagick
// reads the 23 pixels and drops the rest, and so must loadImage: every
// 8-bit palette BMP it writes at a width not a multiple of 4 is like this.
TEST_F(Corpus, BmpRle8AsImageMagickWritesIt) {
  make(filesOf(rleKinds));
  for (const BmpKind& k : rleKinds) {
    SCOPED_TRACE(k.name);
    expectHeader(readAll(path(k.name)), k);
    EXPECT_TRUE(samePixels(load(k.name), decoded(k.name)));
  }
}

// RLE4, which ImageMagick does not write, and RLE8 with absolute blocks,
// which it does not use, made here from its uncompressed files with every
// kind of code: exactly ImageMagick's decoding of each, which is the picture
// it encoded.
TEST_F(Corpus, BmpRleEveryCode) {
  make(named({"4-v3.bmp", "4.bmp", "8-v3.bmp"}));
  const std::pair<const char*, const char*> made[] = {
      {"4-v3.bmp", "rle4-v3.bmp"}, {"4.bmp", "rle4.bmp"}, {"8-v3.bmp", "rle8-absolute-v3.bmp"}};
  for (const auto& [from, name] : made) writeAll(path(name), asRle(readAll(path(from))));
  decode({"rle4-v3.bmp", "rle4.bmp", "rle8-absolute-v3.bmp"});
  for (const auto& [from, name] : made) {
    SCOPED_TRACE(name);
    ASSERT_EQ(decoded(name), decoded(from)) << "ImageMagick reads the RLE file as another picture";
    EXPECT_TRUE(samePixels(load(name), decoded(name)));
  }
}

// Top-down rows, which ImageMagick does not write: its files with the rows
// turned over and the height negated read as the same picture. RLE cannot
// be stored top-down, so such a file is refused.
TEST_F(Corpus, BmpTopDown) {
  const std::vector<std::string> sources = {"1-v3.bmp", "4.bmp", "8.bmp", "24-v3.bmp", "32.bmp", "32-v3.bmp",
                                            "16-rgb565.bmp"};
  make(named({"1-v3.bmp", "4.bmp", "8.bmp", "24-v3.bmp", "32.bmp", "32-v3.bmp", "16-rgb565.bmp"}));
  std::vector<std::string> flipped;
  for (const std::string& from : sources) {
    flipped.push_back("top-down-" + from);
    writeAll(path(flipped.back()), topDown(readAll(path(from))));
  }
  decode(flipped);
  for (std::size_t i = 0; i < sources.size(); ++i) {
    SCOPED_TRACE(flipped[i]);
    ASSERT_EQ(decoded(flipped[i]), decoded(sources[i])) << "ImageMagick reads the top-down file as another picture";
    EXPECT_TRUE(samePixels(load(flipped[i]), decoded(flipped[i])));
  }
  Bytes rle = asRle(readAll(path("4.bmp")));
  putLe32(rle, 22, static_cast<uint32_t>(-H));
  writeAll(path("top-down-rle4.bmp"), rle);
  EXPECT_FALSE(load("top-down-rle4.bmp"));
  EXPECT_NE(std::string(pellucet::lastFailure()).find("top-down"), std::string::npos) << pellucet::lastFailure();
}

// Damaged copies of good files are refused, with a reason: cut short at
// several places (each cut loses pixels or a chunk), a PNG with one CRC byte
// changed (in a critical chunk and in tRNS), a BMP whose pixel data would
// start inside its headers. ImageMagick's own BMP3: at 16 bits says bit
// fields but has no masks after its 40-byte header (it reads the file as
// black), so that file is refused too.
TEST_F(Corpus, DamagedFilesAreRefused) {
  make({{"rgba8-PNG.png", "rgba.pam", plainPng + "-define png:color-type=6 -define png:bit-depth=8 -interlace PNG"},
        {"palette4trns-none.png", "palette16a.pam", plainPng + "-interlace none"},
        {"16-rgb565-v3.bmp", "rgba.pam", "-alpha off -define bmp:subtype=RGB565", "BMP3:"}});
  make(named({"24-v3.bmp", "8-os2.bmp", "4.bmp", "32.bmp", "16-rgb565.bmp"}));
  writeAll(path("rle4.bmp"), asRle(readAll(path("4.bmp"))));
  auto refused = [&](const std::string& name, const Bytes& bytes, const char* reason) {
    writeAll(path("damaged-" + name), bytes);
    const pellucet::Image image = load("damaged-" + name);
    EXPECT_FALSE(image) << name;
    const std::string failure = pellucet::lastFailure();
    EXPECT_NE(failure.find(reason), std::string::npos) << name << ": " << failure;
  };
  for (const char* name : {"rgba8-PNG.png", "palette4trns-none.png"}) {
    const Bytes png = readAll(path(name));
    ASSERT_TRUE(load(name)) << name;
    const std::vector<Chunk> chunks = chunksOf(png);
    std::vector<std::size_t> cuts = {7, 20, 33, png.size() - 12, png.size() - 1};
    for (const Chunk& c : chunks) {
      if (c.type == "IDAT") cuts.push_back(c.at + 8 + c.length / 2);
      if (c.type == "IDAT" || c.type == "IHDR" || c.type == "IEND" || c.type == "tRNS") {
        Bytes changed = png;
        changed[c.at + 8 + c.length + 2] ^= 0x10;
        refused(c.type + "-crc-" + name, changed, "CRC");
      }
    }
    for (std::size_t cut : cuts) {
      const Bytes shorter(png.begin(), png.begin() + static_cast<std::ptrdiff_t>(cut));
      refused("cut-" + std::to_string(cut) + "-" + name, shorter, cut < 8 ? "too short" : "truncated");
    }
  }
  for (const char* name : {"24-v3.bmp", "8-os2.bmp", "4.bmp", "32.bmp", "16-rgb565.bmp", "rle4.bmp"}) {
    const Bytes bmp = readAll(path(name));
    ASSERT_TRUE(load(name)) << name;
    const uint32_t headers = 14 + le32(bmp, 14), pixels = le32(bmp, 10);
    // RLE ends with an end of line and an end of picture: without them the
    // last row is not all there (without the end of picture alone, it is).
    const bool rle = std::string(name).find("rle") != std::string::npos;
    for (std::size_t cut : {std::size_t{10}, std::size_t{headers - 2}, std::size_t{(headers + pixels) / 2},
                            pixels + (bmp.size() - pixels) / 2, bmp.size() - (rle ? 3 : 1)}) {
      const Bytes shorter(bmp.begin(), bmp.begin() + static_cast<std::ptrdiff_t>(cut));
      refused("cut-" + std::to_string(cut) + "-" + name, shorter, "truncated");
    }
    for (uint32_t at : {uint32_t{14}, headers - 1}) {
      Bytes moved = bmp;
      putLe32(moved, 10, at);
      refused("pixels-at-" + std::to_string(at) + "-" + name, moved, "inside the headers");
    }
  }
  const Bytes noMasks = readAll(path("16-rgb565-v3.bmp"));
  EXPECT_EQ(le32(noMasks, 14), 40u);
  EXPECT_EQ(le32(noMasks, 30), 3u);
  EXPECT_EQ(le32(noMasks, 10), 54u);
  EXPECT_FALSE(load("16-rgb565-v3.bmp"));
  EXPECT_NE(std::string(pellucet::lastFailure()), "");
}
