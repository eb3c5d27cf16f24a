// PNG and JPEG on Windows through the Windows Imaging Component, under Wine:
// files saved and read back, files made on Linux by ImageMagick
// (image_samples.h, from make_image_samples.py) compared pixel by pixel with
// the formulas they were drawn from, damaged files refused with the reason,
// and the calling thread's COM left as it was found.
#include <gtest/gtest.h>

#include <pellucet/pellucet.h>

#include <windows.h>
#include <objbase.h>
#include <psapi.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "image_samples.h"

namespace {

class WicImages : public ::testing::Test {
 protected:
  void SetUp() override { _putenv_s("KELGFX", "null"); }
  void TearDown() override { pellucet::closeScreen(); }
  static std::string temporary(const char* name) { return ::testing::TempDir() + name; }
  static std::vector<uint8_t> fileBytes(const std::string& path) {
    std::vector<uint8_t> bytes;
    if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
      uint8_t chunk[4096];
      for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;) bytes.insert(bytes.end(), chunk, chunk + n);
      std::fclose(f);
    }
    return bytes;
  }
  static std::string failure() { return pellucet::lastFailure(); }
};

// The formulas make_image_samples.py draws its pictures from.
constexpr int sampleWidth = 13, sampleHeight = 7;
uint32_t sample8(int x, int y, int c) { return static_cast<uint32_t>(x * 53 + y * 97 + c * 71 + x * y * 13) % 256; }
uint32_t sample16(int x, int y, int c) {
  return static_cast<uint32_t>(x * 7919 + y * 4099 + c * 12345 + x * y * 611) % 65536;
}
// 16 bits to 8 as libpng gives them on Linux: the nearest level.
uint32_t nearest8(uint32_t v) { return static_cast<uint32_t>(std::lround(v / 257.0)); }
uint32_t argb(uint32_t a, uint32_t r, uint32_t g, uint32_t b) { return a << 24 | r << 16 | g << 8 | b; }

uint32_t paletteEntry(int x, int y) {
  const uint32_t i = static_cast<uint32_t>(x + 2 * y) % 20;
  return argb(i * 12 + 15, i * 13, 255 - i * 11, i * 7 + 3);
}

constexpr uint32_t blocks[8] = {0xC81E28, 0x14B43C, 0x1E28DC, 0xFAFAFA, 0x000000, 0x808080, 0xF0C80A, 0x5A1482};
uint32_t blockColour(int x, int y) { return blocks[(y / 16) * 4 + x / 16]; }

// A PNG chunk's CRC, for files damaged on purpose with a valid one.
uint32_t crc32(const uint8_t* p, std::size_t n) {
  uint32_t c = 0xFFFFFFFFu;
  for (std::size_t i = 0; i < n; ++i) {
    c ^= p[i];
    for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
  }
  return c ^ 0xFFFFFFFFu;
}

void putBigEndian32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

// The chunk of a PNG with this type: its offset (at its length field).
std::size_t chunkAt(const std::vector<uint8_t>& png, const char* type) {
  std::size_t at = 8;
  while (at + 8 <= png.size() && std::memcmp(&png[at + 4], type, 4) != 0) {
    at += 12 + (static_cast<std::size_t>(png[at]) << 24 | png[at + 1] << 16 | png[at + 2] << 8 | png[at + 3]);
  }
  return at;
}

void resealChunk(std::vector<uint8_t>& png, std::size_t at) {
  const std::size_t length = static_cast<std::size_t>(png[at]) << 24 | png[at + 1] << 16 | png[at + 2] << 8 | png[at + 3];
  putBigEndian32(&png[at + 8 + length], crc32(&png[at + 4], length + 4));
}

}  // namespace

// Saved and read back exactly, alpha and all (WIC must neither premultiply
// nor drop the colour of transparent pixels); an opaque picture is written
// as 24-bit RGB, one with alpha as RGBA.
TEST_F(WicImages, PngSavedAndReadBackExactly) {
  std::mt19937 random(11);
  for (auto [width, height] : {std::pair{37, 23}, std::pair{1, 1}, std::pair{301, 2}}) {
    for (bool opaque : {false, true}) {
      pellucet::Image image(width, height, 32);
      ASSERT_TRUE(image);
      for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
          const uint32_t v = static_cast<uint32_t>(random());
          image.setPixel(x, y, opaque ? v | 0xFF000000u : v);
        }
      }
      if (!opaque) image.setPixel(0, 0, 0x00123456);  // transparent, with a colour
      const std::string path = temporary("wic-round.png");
      ASSERT_TRUE(pellucet::savePng(image, path.c_str())) << failure();
      const std::vector<uint8_t> file = fileBytes(path);
      ASSERT_GT(file.size(), 33u);
      EXPECT_EQ(std::memcmp(file.data(), "\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR", 16), 0);
      EXPECT_EQ(file[24], 8) << "bit depth";
      EXPECT_EQ(file[25], opaque ? 2 : 6) << "colour type, " << width << " x " << height;
      const pellucet::Image back = pellucet::loadImage(path.c_str());
      std::remove(path.c_str());
      ASSERT_TRUE(back) << failure();
      ASSERT_EQ(back.width(), width);
      ASSERT_EQ(back.height(), height);
      int wrong = 0;
      for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
          if (back.pixel(x, y) != image.pixel(x, y) && wrong++ == 0) {
            ADD_FAILURE() << width << " x " << height << " at " << x << "," << y << ": " << std::hex << back.pixel(x, y)
                          << " for " << image.pixel(x, y);
          }
        }
      }
      EXPECT_EQ(wrong, 0) << width << " x " << height << (opaque ? " opaque" : " with alpha");
    }
  }
}

// Every kind of PNG to 32 bits, as libpng reads them on Linux: low grey
// depths widened, palette alpha from tRNS, Adam7 undone, and 16-bit
// channels to the nearest 8-bit level (WIC's own conversion would not round).
TEST_F(WicImages, PngKindsMadeOnLinuxReadExactly) {
  struct Kind {
    const char* name;
    const uint8_t* data;
    std::size_t size;
    std::function<uint32_t(int, int)> expected;
  };
  const Kind kinds[] = {
      {"grey, 8 bits", samples::grey8Png, sizeof samples::grey8Png,
       [](int x, int y) { return argb(255, sample8(x, y, 0), sample8(x, y, 0), sample8(x, y, 0)); }},
      {"grey, 2 bits", samples::grey2Png, sizeof samples::grey2Png,
       [](int x, int y) {
         const uint32_t g = sample8(x, y, 0) / 64 * 85;
         return argb(255, g, g, g);
       }},
      {"palette with alpha", samples::indexedPng, sizeof samples::indexedPng, paletteEntry},
      {"grey, 16 bits", samples::grey16Png, sizeof samples::grey16Png,
       [](int x, int y) {
         const uint32_t g = nearest8(sample16(x, y, 0));
         return argb(255, g, g, g);
       }},
      {"grey and alpha, 16 bits", samples::greyAlpha16Png, sizeof samples::greyAlpha16Png,
       [](int x, int y) {
         const uint32_t g = nearest8(sample16(x, y, 0));
         return argb(nearest8(sample16(x, y, 3)), g, g, g);
       }},
      {"RGB, 16 bits", samples::rgb16Png, sizeof samples::rgb16Png,
       [](int x, int y) {
         return argb(255, nearest8(sample16(x, y, 0)), nearest8(sample16(x, y, 1)), nearest8(sample16(x, y, 2)));
       }},
      {"RGBA, 16 bits, interlaced", samples::rgba16InterlacedPng, sizeof samples::rgba16InterlacedPng,
       [](int x, int y) {
         return argb(nearest8(sample16(x, y, 3)), nearest8(sample16(x, y, 0)), nearest8(sample16(x, y, 1)),
                     nearest8(sample16(x, y, 2)));
       }},
      {"RGBA, 8 bits, interlaced", samples::rgba8InterlacedPng, sizeof samples::rgba8InterlacedPng,
       [](int x, int y) { return argb(sample8(x, y, 3), sample8(x, y, 0), sample8(x, y, 1), sample8(x, y, 2)); }},
  };
  for (const Kind& kind : kinds) {
    const pellucet::Image image = pellucet::loadImage(kind.data, kind.size);
    ASSERT_TRUE(image) << kind.name << ": " << failure();
    ASSERT_EQ(image.width(), sampleWidth) << kind.name;
    ASSERT_EQ(image.height(), sampleHeight) << kind.name;
    int wrong = 0;
    for (int y = 0; y < sampleHeight; ++y) {
      for (int x = 0; x < sampleWidth; ++x) {
        if (image.pixel(x, y) != kind.expected(x, y) && wrong++ == 0) {
          ADD_FAILURE() << kind.name << " at " << x << "," << y << ": " << std::hex << image.pixel(x, y) << " for "
                        << kind.expected(x, y);
        }
      }
    }
    EXPECT_EQ(wrong, 0) << kind.name;
  }
}

namespace {

// A PNG with a gAMA chunk put in after its header (which is 33 bytes with
// the signature).
std::vector<uint8_t> withGamma(const uint8_t* png, std::size_t size, uint32_t gamma) {
  std::vector<uint8_t> chunk = {0, 0, 0, 4, 'g', 'A', 'M', 'A', static_cast<uint8_t>(gamma >> 24),
                                static_cast<uint8_t>(gamma >> 16), static_cast<uint8_t>(gamma >> 8),
                                static_cast<uint8_t>(gamma)};
  uint32_t crc = 0xFFFFFFFFu;
  for (std::size_t i = 4; i < chunk.size(); ++i) {
    crc ^= chunk[i];
    for (int k = 0; k < 8; ++k) crc = crc & 1 ? 0xEDB88320u ^ (crc >> 1) : crc >> 1;
  }
  crc ^= 0xFFFFFFFFu;
  for (int k = 3; k >= 0; --k) chunk.push_back(static_cast<uint8_t>(crc >> (8 * k)));
  std::vector<uint8_t> out(size + chunk.size());
  std::memcpy(out.data(), png, 33);
  std::memcpy(out.data() + 33, chunk.data(), chunk.size());
  std::memcpy(out.data() + 33 + chunk.size(), png + 33, size - 33);
  return out;
}

uint32_t shown(uint32_t v, double top, double exponent) {
  return static_cast<uint32_t>(std::floor(255 * std::pow(v / top, exponent) + 0.5));
}

}  // namespace

// A gAMA of 1.0 (linear light) shows as libpng shows it: 8-bit samples
// through libpng's exponent (1 / 2.2 kept as 0.45455), 16-bit ones exactly,
// alpha untouched; sRGB's own gAMA changes nothing.
TEST_F(WicImages, PngGammaAsOnLinux) {
  const std::vector<uint8_t> rgba8 = withGamma(samples::rgba8InterlacedPng, sizeof samples::rgba8InterlacedPng, 100000);
  const std::vector<uint8_t> rgb16 = withGamma(samples::rgb16Png, sizeof samples::rgb16Png, 100000);
  const std::vector<uint8_t> same = withGamma(samples::rgb16Png, sizeof samples::rgb16Png, 45455);
  const pellucet::Image eight = pellucet::loadImage(rgba8.data(), rgba8.size());
  const pellucet::Image sixteen = pellucet::loadImage(rgb16.data(), rgb16.size());
  const pellucet::Image plain = pellucet::loadImage(same.data(), same.size());
  ASSERT_TRUE(eight && sixteen && plain) << failure();
  int wrong = 0;
  for (int y = 0; y < sampleHeight; ++y) {
    for (int x = 0; x < sampleWidth; ++x) {
      const uint32_t e = argb(sample8(x, y, 3), shown(sample8(x, y, 0), 255, 0.45455),
                              shown(sample8(x, y, 1), 255, 0.45455), shown(sample8(x, y, 2), 255, 0.45455));
      const uint32_t s = argb(255, shown(sample16(x, y, 0), 65535, 1 / 2.2), shown(sample16(x, y, 1), 65535, 1 / 2.2),
                              shown(sample16(x, y, 2), 65535, 1 / 2.2));
      const uint32_t p = argb(255, nearest8(sample16(x, y, 0)), nearest8(sample16(x, y, 1)), nearest8(sample16(x, y, 2)));
      wrong += eight.pixel(x, y) != e;
      wrong += sixteen.pixel(x, y) != s;
      wrong += plain.pixel(x, y) != p;
    }
  }
  EXPECT_EQ(wrong, 0);
}

// Baseline and progressive JPEGs of flat 16 x 16 blocks: each pixel within
// one level of its block's colour (YCbCr and back rounds), and opaque.
TEST_F(WicImages, BaselineAndProgressiveJpegs) {
  for (auto [name, data, size] : {std::tuple{"baseline", samples::baselineJpeg, sizeof samples::baselineJpeg},
                                  std::tuple{"progressive", samples::progressiveJpeg, sizeof samples::progressiveJpeg}}) {
    const pellucet::Image image = pellucet::loadImage(data, size);
    ASSERT_TRUE(image) << name << ": " << failure();
    ASSERT_EQ(image.width(), 64) << name;
    ASSERT_EQ(image.height(), 32) << name;
    int wrong = 0;
    for (int y = 0; y < 32; ++y) {
      for (int x = 0; x < 64; ++x) {
        const uint32_t got = image.pixel(x, y), want = blockColour(x, y);
        bool within = got >> 24 == 0xFF;
        for (int shift : {0, 8, 16}) {
          within = within && std::abs(static_cast<int>(got >> shift & 0xFF) - static_cast<int>(want >> shift & 0xFF)) <= 1;
        }
        if (!within && wrong++ == 0) {
          ADD_FAILURE() << name << " at " << x << "," << y << ": " << std::hex << got << " for " << want;
        }
      }
    }
    EXPECT_EQ(wrong, 0) << name;
  }
}

// Damage is refused with its reason, before the imaging component is asked
// where the file itself tells: a file cut anywhere, a chunk whose CRC fails,
// a header claiming too large a picture. What only decoding finds is refused
// with WIC's error.
TEST_F(WicImages, DamagedFilesAreRefusedWithTheReason) {
  const std::vector<uint8_t> png(samples::rgba8InterlacedPng,
                                 samples::rgba8InterlacedPng + sizeof samples::rgba8InterlacedPng);
  // Cut anywhere after the signature, even inside IEND (which WIC's decoder
  // never reads). Each cut is a buffer of its own size.
  int read = 0, otherReasons = 0;
  for (std::size_t cut = 8; cut < png.size(); ++cut) {
    const std::vector<uint8_t> shorter(png.begin(), png.begin() + static_cast<std::ptrdiff_t>(cut));
    if (pellucet::loadImage(shorter.data(), shorter.size())) {
      if (read++ == 0) ADD_FAILURE() << "read when cut at " << cut << " of " << png.size();
    } else if (failure() != "PNG: the file is truncated" && otherReasons++ == 0) {
      ADD_FAILURE() << "cut at " << cut << ": " << failure();
    }
  }
  EXPECT_EQ(read, 0);
  EXPECT_EQ(otherReasons, 0);
  // One byte of the image data changed: the CRC fails.
  std::vector<uint8_t> damaged = png;
  const std::size_t idat = chunkAt(damaged, "IDAT");
  ASSERT_LT(idat, damaged.size());
  damaged[idat + 20] ^= 0x10;
  EXPECT_FALSE(pellucet::loadImage(damaged.data(), damaged.size()));
  EXPECT_EQ(failure(), "PNG: IDAT: CRC error");
  // The zlib header broken under a valid CRC: only the decoder sees it.
  damaged = png;
  damaged[idat + 8] = 0x00;
  resealChunk(damaged, idat);
  EXPECT_FALSE(pellucet::loadImage(damaged.data(), damaged.size()));
  EXPECT_EQ(failure().rfind("PNG: the file is damaged or cannot be decoded (Windows Imaging Component error 0x", 0), 0u)
      << failure();
  // A header claiming 100000 x 7 pixels, with its CRC: refused before any
  // decoder allocates for it.
  damaged = png;
  putBigEndian32(&damaged[16], 100000);
  resealChunk(damaged, 8);
  EXPECT_FALSE(pellucet::loadImage(damaged.data(), damaged.size()));
  EXPECT_NE(failure().find("PNG: a size of 100000 x 7"), std::string::npos) << failure();

  // JPEG: a frame header claiming 30000 x 30000; CMYK; cut anywhere.
  std::vector<uint8_t> jpeg(samples::baselineJpeg, samples::baselineJpeg + sizeof samples::baselineJpeg);
  std::size_t sof = 2;
  while (sof + 9 < jpeg.size() && !(jpeg[sof] == 0xFF && jpeg[sof + 1] == 0xC0)) ++sof;
  ASSERT_LT(sof + 9, jpeg.size());
  for (int i : {5, 7}) {
    jpeg[sof + i] = 30000 >> 8;
    jpeg[sof + i + 1] = 30000 & 0xFF;
  }
  // Refused before the decoder allocates: Wine's would fill 2.7 GB for it,
  // which shows in the process's peak working set.
  PROCESS_MEMORY_COUNTERS before{}, after{};
  ASSERT_TRUE(K32GetProcessMemoryInfo(GetCurrentProcess(), &before, sizeof before));
  EXPECT_FALSE(pellucet::loadImage(jpeg.data(), jpeg.size()));
  EXPECT_NE(failure().find("JPEG: a size of 30000 x 30000"), std::string::npos) << failure();
  ASSERT_TRUE(K32GetProcessMemoryInfo(GetCurrentProcess(), &after, sizeof after));
  EXPECT_LT(after.PeakWorkingSetSize - before.PeakWorkingSetSize, std::size_t{64} << 20);
  EXPECT_FALSE(pellucet::loadImage(samples::cmykJpeg, sizeof samples::cmykJpeg));
  EXPECT_EQ(failure(), "JPEG: CMYK images are not read (only greyscale and RGB)");
  for (std::size_t cut = 8; cut < sizeof samples::progressiveJpeg; cut += 5) {
    const std::vector<uint8_t> shorter(samples::progressiveJpeg, samples::progressiveJpeg + cut);
    const pellucet::Image image = pellucet::loadImage(shorter.data(), shorter.size());
    if (!image) {
      EXPECT_EQ(failure().rfind("JPEG: ", 0), 0u) << "cut at " << cut << ": " << failure();
    } else {
      EXPECT_EQ(image.width(), 64) << "cut at " << cut;
    }
  }
}

// Screenshots on the null back end: a .bmp name gives a BMP file, any other
// a PNG, both of the visible page exactly.
TEST_F(WicImages, ScreenshotsAsBmpAndPng) {
  ASSERT_TRUE(pellucet::openScreen(24, 16, 32, 2));
  pellucet::setPages(1, 0);
  pellucet::clear(0xFF3366CC);
  pellucet::fillBox(2, 2, 5, 5, 0xFFFFFFFF);
  pellucet::flip();
  pellucet::clear(0xFF000000);  // the work page, not shown
  const std::string bmp = temporary("wic-shot.bmp"), png = temporary("wic-shot.png");
  ASSERT_TRUE(pellucet::saveScreenshot(bmp.c_str())) << failure();
  ASSERT_TRUE(pellucet::saveScreenshot(png.c_str())) << failure();
  const std::vector<uint8_t> bmpFile = fileBytes(bmp), pngFile = fileBytes(png);
  ASSERT_GT(bmpFile.size(), 2u);
  EXPECT_EQ(bmpFile[0], 'B');
  EXPECT_EQ(bmpFile[1], 'M');
  ASSERT_GT(pngFile.size(), 8u);
  EXPECT_EQ(std::memcmp(pngFile.data(), "\x89PNG\r\n\x1a\n", 8), 0);
  for (const std::string& path : {bmp, png}) {
    const pellucet::Image shot = pellucet::loadImage(path.c_str());
    std::remove(path.c_str());
    ASSERT_TRUE(shot) << path << ": " << failure();
    ASSERT_EQ(shot.width(), 24);
    ASSERT_EQ(shot.height(), 16);
    int wrong = 0;
    for (int y = 0; y < 16; ++y) {
      for (int x = 0; x < 24; ++x) {
        const bool inBox = x >= 2 && x <= 5 && y >= 2 && y <= 5;
        wrong += shot.pixel(x, y) != (inBox ? 0xFFFFFFFFu : 0xFF3366CCu);
      }
    }
    EXPECT_EQ(wrong, 0) << path;
  }
}

// The calling thread's COM is left as found: none, a single-threaded
// apartment (which the codecs cannot join, RPC_E_CHANGED_MODE) or the
// multithreaded one. Each case on a thread of its own; afterwards the
// caller's own CoUninitialize must leave the thread free to choose again.
TEST_F(WicImages, ComOfTheCallingThreadIsLeftAsFound) {
  pellucet::Image image(5, 3, 32);
  ASSERT_TRUE(image);
  image.setPixel(1, 1, 0x80FF8040);
  const std::string path = temporary("wic-com.png");
  for (DWORD before : {DWORD{0xFFFFFFFF}, DWORD{COINIT_APARTMENTTHREADED}, DWORD{COINIT_MULTITHREADED}}) {
    std::thread([&] {
      if (before != 0xFFFFFFFF) {
        ASSERT_EQ(CoInitializeEx(nullptr, before), S_OK);
      }
      EXPECT_TRUE(pellucet::savePng(image, path.c_str())) << failure();
      const pellucet::Image back = pellucet::loadImage(path.c_str());
      ASSERT_TRUE(back) << failure();
      EXPECT_EQ(back.pixel(1, 1), 0x80FF8040u);
      if (before != 0xFFFFFFFF) {
        // Still the caller's apartment, initialised once.
        EXPECT_EQ(CoInitializeEx(nullptr, before), S_FALSE) << before;
        CoUninitialize();
        CoUninitialize();
      }
      // Nothing left behind: any apartment may be entered afresh.
      EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK) << before;
      CoUninitialize();
    }).join();
  }
  std::remove(path.c_str());
}

// Without windowscodecs.dll each call fails with that reason. Wine disables
// a DLL for a program named in its registry (AppDefaults), so a copy of this
// test under a name of its own runs without one and writes what each call
// said to a file.
TEST_F(WicImages, WithoutTheImagingComponentTheReasonIsGiven) {
  if (const char* report = std::getenv("PEL_WIC_CHILD_REPORT")) {
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);  // a crash ends the child at once
    std::string said;
    for (int call = 0; call < 3; ++call) {
      bool ok = false;
      if (call == 0) ok = static_cast<bool>(pellucet::loadImage(samples::grey8Png, sizeof samples::grey8Png));
      if (call == 1) ok = static_cast<bool>(pellucet::loadImage(samples::baselineJpeg, sizeof samples::baselineJpeg));
      if (call == 2) ok = pellucet::savePng(pellucet::Image(2, 2, 32), "never.png");
      said += std::string(ok ? "1 " : "0 ") + pellucet::lastFailure() + "\n";
    }
    std::FILE* f = std::fopen(report, "wb");
    ASSERT_TRUE(f);
    std::fputs(said.c_str(), f);
    std::fclose(f);
    return;
  }
  if (!GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version")) GTEST_SKIP() << "needs Wine's DLL overrides";
  const char* const name = "pel-without-windowscodecs.exe";
  const std::string appKey = std::string("Software\\Wine\\AppDefaults\\") + name;
  const std::string copy = temporary(name), report = temporary("pel-without-windowscodecs.txt");
  char self[MAX_PATH];
  ASSERT_GT(GetModuleFileNameA(nullptr, self, MAX_PATH), 0u);
  ASSERT_TRUE(CopyFileA(self, copy.c_str(), FALSE)) << GetLastError();
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, (appKey + "\\DllOverrides").c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                            nullptr, &key, nullptr),
            ERROR_SUCCESS);
  RegSetValueExA(key, "windowscodecs", 0, REG_SZ, reinterpret_cast<const BYTE*>(""), 1);  // "": disabled
  RegCloseKey(key);
  std::remove(report.c_str());
  SetEnvironmentVariableA("PEL_WIC_CHILD_REPORT", report.c_str());
  std::string command = "\"" + copy + "\" --gtest_filter=WicImages.WithoutTheImagingComponentTheReasonIsGiven";
  // The child's output goes to a file of its own: whatever it leaves running
  // (a debugger, if it crashes) must not hold this test's output open.
  const std::string log = temporary("pel-without-windowscodecs.log");
  SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
  HANDLE output = CreateFileA(log.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(output, INVALID_HANDLE_VALUE);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nullptr;
  startup.hStdOutput = output;
  startup.hStdError = output;
  PROCESS_INFORMATION child{};
  // In a job, so that a crashed child and the debugger Wine starts for it
  // both end with it.
  HANDLE job = CreateJobObjectA(nullptr, nullptr);
  ASSERT_TRUE(job);
  const BOOL started = CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, CREATE_SUSPENDED, nullptr,
                                      nullptr, &startup, &child);
  CloseHandle(output);
  SetEnvironmentVariableA("PEL_WIC_CHILD_REPORT", nullptr);
  DWORD status = 1;
  if (started) {
    EXPECT_TRUE(AssignProcessToJobObject(job, child.hProcess)) << GetLastError();
    ResumeThread(child.hThread);
    if (WaitForSingleObject(child.hProcess, 30000) != WAIT_OBJECT_0) ADD_FAILURE() << "the child did not end";
    TerminateJobObject(job, 1);
    WaitForSingleObject(child.hProcess, 5000);
    GetExitCodeProcess(child.hProcess, &status);
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
  }
  CloseHandle(job);
  RegDeleteTreeA(HKEY_CURRENT_USER, appKey.c_str());
  DeleteFileA(copy.c_str());
  ASSERT_TRUE(started) << GetLastError();
  const std::vector<uint8_t> childOutput = fileBytes(log);
  std::remove(log.c_str());
  EXPECT_EQ(status, 0u) << std::string(childOutput.begin(), childOutput.end());
  const std::vector<uint8_t> said = fileBytes(report);
  std::remove(report.c_str());
  EXPECT_EQ(std::string(said.begin(), said.end()),
            "0 PNG: the Windows Imaging Component (windowscodecs.dll) is missing\n"
            "0 JPEG: the Windows Imaging Component (windowscodecs.dll) is missing\n"
            "0 PNG: the Windows Imaging Component (windowscodecs.dll) is missing (never.png)\n");
}
