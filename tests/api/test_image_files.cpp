// Image files: what a failed save leaves behind, PNG and BMP kinds read to
// the exact pixel (16-bit channels, RLE, OS/2 headers, bit masks), damage
// refused with its reason, the colours 8- and 16-bit images save as, and one
// size rule for images made, saved and loaded.
#include <gtest/gtest.h>

#include <pellucet/pellucet.h>

#include <png.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <random>
#include <string>
#include <vector>

namespace {

std::string failure() { return pellucet::lastFailure(); }
bool says(const std::string& text) { return failure().find(text) != std::string::npos; }

std::vector<uint8_t> readAll(const std::string& path) {
  std::vector<uint8_t> bytes;
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    uint8_t chunk[4096];
    std::size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) bytes.insert(bytes.end(), chunk, chunk + n);
    std::fclose(f);
  }
  return bytes;
}

void writeAll(const std::string& path, const std::vector<uint8_t>& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
  std::fclose(f);
}

std::vector<std::string> folderEntries(const std::string& folder) {
  std::vector<std::string> names;
  if (DIR* d = opendir(folder.c_str())) {
    while (dirent* e = readdir(d)) {
      if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) names.push_back(e->d_name);
    }
    closedir(d);
  }
  return names;
}

class ImageFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("KELGFX", "null", 1);
    std::string pattern = ::testing::TempDir() + "pellucet-files-XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    folder = pattern;
  }
  void TearDown() override {
    pellucet::closeScreen();
    unsetenv("KELGFX");
    for (const std::string& name : folderEntries(folder)) std::remove((folder + "/" + name).c_str());
    rmdir(folder.c_str());
  }
  std::string in(const char* name) const { return folder + "/" + name; }
  static pellucet::Image randomImage(int width, int height, uint32_t seed) {
    pellucet::Image image(width, height, 32);
    std::mt19937 random(seed);
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) image.setPixel(x, y, static_cast<uint32_t>(random()));
    }
    return image;
  }
  std::string folder;
};

// A PNG written the long way, so the tests choose every field.
struct PngSpec {
  int width = 1, height = 1, bitDepth = 8, colourType = PNG_COLOR_TYPE_GRAY;
  bool interlaced = false;
  double gamma = 0;  // 0: no gAMA chunk
  std::vector<png_color> palette;
  std::vector<uint8_t> pixels;  // the rows, packed, big-endian 16-bit samples
};

void appendBytes(png_structp png, png_bytep data, png_size_t n) {
  auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + n);
}
void flushNothing(png_structp) {}

std::vector<uint8_t> pngFile(const PngSpec& spec) {
  std::vector<uint8_t> out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_set_write_fn(png, &out, appendBytes, flushNothing);
  png_set_check_for_invalid_index(png, 0);
  png_set_IHDR(png, info, spec.width, spec.height, spec.bitDepth, spec.colourType,
               spec.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  if (!spec.palette.empty()) png_set_PLTE(png, info, spec.palette.data(), static_cast<int>(spec.palette.size()));
  if (spec.gamma > 0) png_set_gAMA(png, info, spec.gamma);
  png_write_info(png, info);
  const std::size_t rowBytes = spec.pixels.size() / static_cast<std::size_t>(spec.height);
  const int passes = png_set_interlace_handling(png);
  for (int pass = 0; pass < passes; ++pass) {
    for (int y = 0; y < spec.height; ++y) png_write_row(png, spec.pixels.data() + y * rowBytes);
  }
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return out;
}

pellucet::Image load(const std::vector<uint8_t>& file) {
  // A copy of exactly the file's size, so ASan sees any read past it.
  const std::vector<uint8_t> exact(file);
  return pellucet::loadImage(exact.data(), exact.size());
}

}  // namespace

// ---- Saving never loses what was there ---------------------------------------

TEST_F(ImageFiles, AFailedSaveLeavesTheOldFileAsItWas) {
  const std::vector<uint8_t> old = {'o', 'l', 'd', ' ', 'p', 'i', 'c', 't', 'u', 'r', 'e'};
  const pellucet::Image big = randomImage(64, 64, 1);  // random pixels: far over the limit below in any format
  signal(SIGXFSZ, SIG_IGN);
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  for (const char* name : {"old.png", "old.bmp"}) {
    const std::string path = in(name);
    writeAll(path, old);
    rlimit small = saved;
    small.rlim_cur = 1000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool saved1 = name[4] == 'p' ? pellucet::savePng(big, path.c_str()) : pellucet::saveBmp(big, path.c_str());
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &saved), 0);
    EXPECT_FALSE(saved1) << name;
    EXPECT_TRUE(says(path)) << failure();
    EXPECT_TRUE(says("unchanged")) << failure();
    EXPECT_EQ(readAll(path), old) << name;
    EXPECT_EQ(folderEntries(folder).size(), 1u) << "a temporary file was left beside " << name;
    std::remove(path.c_str());
  }
}

TEST_F(ImageFiles, ASaveReplacesTheFileKeepingItsPermissionsAndLinks) {
  const pellucet::Image image = randomImage(5, 4, 2);
  const std::string path = in("kept.png"), link = in("link.png");
  writeAll(path, {1, 2, 3});
  ASSERT_EQ(chmod(path.c_str(), 0640), 0);
  ASSERT_EQ(symlink("kept.png", link.c_str()), 0);
  ASSERT_TRUE(pellucet::savePng(image, link.c_str())) << failure();
  struct stat info {};
  ASSERT_EQ(lstat(link.c_str(), &info), 0);
  EXPECT_TRUE(S_ISLNK(info.st_mode)) << "the link was replaced by a file";
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
  const pellucet::Image back = pellucet::loadImage(path.c_str());
  ASSERT_TRUE(back) << failure();
  EXPECT_EQ(back.pixel(4, 3), image.pixel(4, 3));
  EXPECT_EQ(folderEntries(folder).size(), 2u);
}

// Devices, FIFOs and folders are no picture files: refused, left as they are.
TEST_F(ImageFiles, WhatIsNoRegularFileIsRefused) {
  const pellucet::Image image = randomImage(4, 4, 3);
  const std::string fifo = in("fifo"), full = in("full"), sub = in("sub");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  ASSERT_EQ(mkdir(sub.c_str(), 0700), 0);
  // A copy of the full device (1, 7), where the system lets us make one.
  const bool haveDevice = mknod(full.c_str(), S_IFCHR | 0600, makedev(1, 7)) == 0;
  for (const std::string& path : {fifo, full, sub}) {
    if (path == full && !haveDevice) continue;
    struct stat before {};
    ASSERT_EQ(stat(path.c_str(), &before), 0);
    EXPECT_FALSE(pellucet::savePng(image, path.c_str())) << path;
    EXPECT_TRUE(says(path) && (says("not a regular file") || says("is a folder"))) << failure();
    EXPECT_FALSE(pellucet::saveBmp(image, path.c_str())) << path;
    struct stat after {};
    ASSERT_EQ(stat(path.c_str(), &after), 0) << path << " is gone";
    EXPECT_EQ(after.st_mode & S_IFMT, before.st_mode & S_IFMT) << path;
    EXPECT_EQ(after.st_rdev, before.st_rdev) << path;
  }
  // Reading a device or a FIFO refuses at once instead of reading it to a
  // limit or waiting for a writer.
  EXPECT_FALSE(pellucet::loadImage(fifo.c_str()));
  EXPECT_TRUE(says(fifo + " is not a regular file")) << failure();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(pellucet::loadImage("/dev/zero"));
  EXPECT_TRUE(says("/dev/zero is not a regular file")) << failure();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  rmdir(sub.c_str());
}

// ---- PNG ---------------------------------------------------------------------

// A 16-bit channel v loads as round(v / 257), interlaced or not, in every
// colour type: what the same picture stored in 8 bits gives.
TEST_F(ImageFiles, SixteenBitPngsLoadAsTheirEightBitPicture) {
  const uint16_t samples[] = {0x9A9A, 0x9A80, 0x0080, 0x0081, 0xFFFF, 0x0000, 0x7F80, 0x8080};
  auto eight = [](uint16_t v) { return static_cast<uint32_t>((v + 128) / 257); };
  for (bool interlaced : {false, true}) {
    for (int type : {PNG_COLOR_TYPE_GRAY, PNG_COLOR_TYPE_GRAY_ALPHA, PNG_COLOR_TYPE_RGB, PNG_COLOR_TYPE_RGB_ALPHA}) {
      const int channels = type == PNG_COLOR_TYPE_GRAY ? 1 : type == PNG_COLOR_TYPE_GRAY_ALPHA ? 2 : type == PNG_COLOR_TYPE_RGB ? 3 : 4;
      PngSpec spec;
      spec.width = 9;  // odd, so the interlace passes have uneven rows
      spec.height = 7;
      spec.bitDepth = 16;
      spec.colourType = type;
      spec.interlaced = interlaced;
      std::vector<uint16_t> values;
      for (int i = 0; i < spec.width * spec.height * channels; ++i) values.push_back(samples[(i * 5 + i / 7) % 8]);
      for (uint16_t v : values) {
        spec.pixels.push_back(static_cast<uint8_t>(v >> 8));
        spec.pixels.push_back(static_cast<uint8_t>(v));
      }
      const pellucet::Image image = load(pngFile(spec));
      ASSERT_TRUE(image) << failure();
      for (int y = 0; y < spec.height; ++y) {
        for (int x = 0; x < spec.width; ++x) {
          const uint16_t* v = values.data() + (y * spec.width + x) * channels;
          const uint32_t r = eight(v[0]), g = eight(channels >= 3 ? v[1] : v[0]), b = eight(channels >= 3 ? v[2] : v[0]);
          const uint32_t a = channels == 2 ? eight(v[1]) : channels == 4 ? eight(v[3]) : 255;
          ASSERT_EQ(image.pixel(x, y), a << 24 | r << 16 | g << 8 | b)
              << "type " << type << (interlaced ? " interlaced" : "") << " at " << x << "," << y;
        }
      }
    }
  }
}

// gAMA is honoured: 1/2.2 (sRGB's) changes nothing, 1.0 (linear light) is
// made brighter for the screen.
TEST_F(ImageFiles, PngGammaIsHonoured) {
  PngSpec spec;
  spec.width = 2;
  spec.pixels = {64, 200};
  spec.gamma = 1 / 2.2;
  pellucet::Image same = load(pngFile(spec));
  ASSERT_TRUE(same) << failure();
  EXPECT_EQ(same.pixel(0, 0), 0xFF404040u);
  EXPECT_EQ(same.pixel(1, 0), 0xFFC8C8C8u);
  spec.gamma = 1.0;
  pellucet::Image linear = load(pngFile(spec));
  ASSERT_TRUE(linear) << failure();
  EXPECT_GT(linear.pixel(0, 0) & 0xFF, 64u + 40);
}

// A palette index past a short palette is opaque black, in PNG as in BMP.
TEST_F(ImageFiles, AnIndexPastThePaletteIsOpaqueBlack) {
  PngSpec spec;
  spec.width = 3;
  spec.colourType = PNG_COLOR_TYPE_PALETTE;
  spec.palette = {{255, 0, 0}, {0, 0, 255}};
  spec.pixels = {1, 5, 0};
  const pellucet::Image png = load(pngFile(spec));
  ASSERT_TRUE(png) << failure();
  EXPECT_EQ(png.pixel(0, 0), 0xFF0000FFu);
  EXPECT_EQ(png.pixel(1, 0), 0xFF000000u);
  EXPECT_EQ(png.pixel(2, 0), 0xFFFF0000u);
}

// Cut short anywhere, or with a failed CRC, a PNG is refused with the reason.
TEST_F(ImageFiles, DamagedPngsAreRefused) {
  const pellucet::Image image = randomImage(64, 48, 4);
  const std::string path = in("whole.png");
  ASSERT_TRUE(pellucet::savePng(image, path.c_str()));
  const std::vector<uint8_t> whole = readAll(path);
  ASSERT_TRUE(load(whole));
  const pellucet::Image partial = load({whole.begin(), whole.begin() + 300});
  EXPECT_FALSE(partial) << "the first 300 bytes loaded as a " << partial.width() << " x " << partial.height() << " picture";
  EXPECT_TRUE(says("PNG:")) << failure();
  int loaded = 0;
  for (std::size_t cut = 8; cut < whole.size(); cut += 1 + cut / 16) loaded += static_cast<bool>(load({whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(cut)}));
  EXPECT_EQ(loaded, 0) << "cut files loaded";
  // A byte of the image data changed: the chunk's CRC fails.
  std::vector<uint8_t> flipped = whole;
  flipped[100] ^= 0x10;
  EXPECT_FALSE(load(flipped));
  EXPECT_TRUE(says("CRC")) << failure();
  // A damaged CRC on an ancillary chunk too: a gAMA chunk's.
  PngSpec spec;
  spec.gamma = 1 / 2.2;
  spec.pixels = {7};
  std::vector<uint8_t> withGamma = pngFile(spec);
  const auto gama = std::search(withGamma.begin(), withGamma.end(), "gAMA", "gAMA" + 4);
  ASSERT_NE(gama, withGamma.end());
  gama[8] ^= 1;  // the CRC follows the 4 data bytes
  EXPECT_FALSE(load(withGamma));
  EXPECT_TRUE(says("CRC")) << failure();
}

// ---- BMP -------------------------------------------------------------------

namespace {

// A BMP: the file header, an info header of `headerSize` bytes (fields past
// it left out), extra bytes (masks, palette), then the pixel data.
std::vector<uint8_t> bmp(uint32_t headerSize, int32_t width, int32_t height, int bits, uint32_t compression,
                         const std::vector<uint8_t>& extra, const std::vector<uint8_t>& pixels, int64_t pixelsAt = -1) {
  std::vector<uint8_t> h(124, 0);
  auto at32 = [&](std::size_t i, uint32_t v) {
    for (int k = 0; k < 4; ++k) h[i + k] = static_cast<uint8_t>(v >> 8 * k);
  };
  at32(0, headerSize);
  if (headerSize == 12) {
    h[4] = static_cast<uint8_t>(width), h[5] = static_cast<uint8_t>(width >> 8);
    h[6] = static_cast<uint8_t>(height), h[7] = static_cast<uint8_t>(height >> 8);
    h[8] = 1, h[10] = static_cast<uint8_t>(bits);
  } else {
    at32(4, static_cast<uint32_t>(width));
    at32(8, static_cast<uint32_t>(height));
    h[12] = 1;
    h[14] = static_cast<uint8_t>(bits);
    at32(16, compression);
  }
  h.resize(headerSize);
  const uint32_t offset = pixelsAt >= 0 ? static_cast<uint32_t>(pixelsAt) : 14 + headerSize + static_cast<uint32_t>(extra.size());
  std::vector<uint8_t> b = {'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0};
  for (int k = 0; k < 4; ++k) b.push_back(static_cast<uint8_t>(offset >> 8 * k));
  b.insert(b.end(), h.begin(), h.end());
  b.insert(b.end(), extra.begin(), extra.end());
  b.insert(b.end(), pixels.begin(), pixels.end());
  return b;
}

// Palette entries as BMP stores them: blue, green, red, zero.
std::vector<uint8_t> entries(std::initializer_list<uint32_t> colours, int size = 4) {
  std::vector<uint8_t> out;
  for (uint32_t c : colours) {
    out.push_back(static_cast<uint8_t>(c));
    out.push_back(static_cast<uint8_t>(c >> 8));
    out.push_back(static_cast<uint8_t>(c >> 16));
    if (size == 4) out.push_back(0);
  }
  return out;
}

std::vector<uint8_t> words(std::initializer_list<uint32_t> values) {
  std::vector<uint8_t> out;
  for (uint32_t v : values) {
    for (int k = 0; k < 4; ++k) out.push_back(static_cast<uint8_t>(v >> 8 * k));
  }
  return out;
}

// The rows of an image as index letters ('a' = entry 0 ...), top first.
std::string picture(const pellucet::Image& image, std::initializer_list<uint32_t> colours) {
  std::string out;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      char c = '?';
      int i = 0;
      for (uint32_t colour : colours) {
        if (image.pixel(x, y) == (0xFF000000u | colour)) c = static_cast<char>('a' + i);
        ++i;
      }
      out += c;
    }
    out += '/';
  }
  return out;
}

}  // namespace

TEST_F(ImageFiles, RleBmpsAreRead) {
  const auto palette = {0x000000u, 0xFF0000u, 0x00FF00u, 0x0000FFu};
  // 5 x 3, bottom row first: a run, absolute pixels (odd count, padded), a
  // move, end of line, end of picture. Pixels no code reaches are entry 0.
  const std::vector<uint8_t> rle8 = {3, 1, 0, 0,        // bottom: b b b, end of line
                                     0, 3, 2, 3, 1, 0,  // middle: c d b (absolute, padded)
                                     2, 3, 0, 0,        //         then d d, end of line
                                     0, 2, 1, 0,        // a move right 1
                                     2, 2, 0, 1};       // top: c c, end of picture
  const pellucet::Image eight = load(bmp(40, 5, 3, 8, 1, entries(palette), rle8));
  ASSERT_TRUE(eight) << failure();
  EXPECT_EQ(picture(eight, palette), "accaa/cdbdd/bbbaa/");
  // RLE4: runs alternate two indices; absolute nibbles, padded to 16 bits.
  const std::vector<uint8_t> rle4 = {5, 0x12, 0, 0,                // bottom: b c b c b
                                     0, 3, 0x31, 0x20, 2, 0x33, 0, 0,  // middle: d b c, d d
                                     0, 1};
  const pellucet::Image four = load(bmp(40, 5, 3, 4, 2, entries(palette), rle4));
  ASSERT_TRUE(four) << failure();
  EXPECT_EQ(picture(four, palette), "aaaaa/dbcdd/bcbcb/");
  // A run may fill the row's padding (5 pixels pad to 8 at 8 bits), as
  // ImageMagick codes its rows; those pixels are dropped.
  const pellucet::Image padded = load(bmp(40, 5, 3, 8, 1, entries(palette), {8, 2, 0, 0, 0, 1}));
  ASSERT_TRUE(padded) << failure();
  EXPECT_EQ(picture(padded, palette), "aaaaa/aaaaa/ccccc/");
  // Runs and moves past the padding are damage, not clipped.
  for (const std::vector<uint8_t>& bad : {std::vector<uint8_t>{9, 1, 0, 1}, std::vector<uint8_t>{0, 2, 9, 0, 0, 1},
                                          std::vector<uint8_t>{0, 9, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 1},
                                          std::vector<uint8_t>{0, 0, 0, 0, 0, 0, 1, 1, 0, 1},
                                          std::vector<uint8_t>{3, 1}}) {
    EXPECT_FALSE(load(bmp(40, 5, 3, 8, 1, entries(palette), bad)));
    EXPECT_TRUE(says("BMP: ") && (says("RLE") || says("truncated"))) << failure();
  }
  // Top-down RLE does not exist.
  EXPECT_FALSE(load(bmp(40, 5, -3, 8, 1, entries(palette), rle8)));
}

// OS/2 headers of 12 and 16 to 64 bytes, and bit masks on 24-bit pixels.
TEST_F(ImageFiles, OtherHeadersAndMasks) {
  const std::vector<uint8_t> row = {0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0, 0};  // 2 x 1 at 24 bits, padded
  for (uint32_t size : {16u, 20u, 40u, 64u}) {
    const pellucet::Image image = load(bmp(size, 2, 1, 24, 0, {}, row));
    ASSERT_TRUE(image) << size << ": " << failure();
    EXPECT_EQ(image.pixel(0, 0), 0xFF302010u) << size;
    EXPECT_EQ(image.pixel(1, 0), 0xFF605040u) << size;
  }
  // OS/2 1.x: 12 bytes, palette entries of 3 bytes.
  const pellucet::Image os2 = load(bmp(12, 2, 1, 8, 0, entries({0x123456, 0xABCDEF}, 3), {1, 0, 0, 0}));
  ASSERT_TRUE(os2) << failure();
  EXPECT_EQ(os2.pixel(0, 0), 0xFFABCDEFu);
  EXPECT_EQ(os2.pixel(1, 0), 0xFF123456u);
  // 24 bits with masks that swap red and blue.
  const pellucet::Image masked = load(bmp(40, 2, 1, 24, 3, words({0x0000FF, 0x00FF00, 0xFF0000}), row));
  ASSERT_TRUE(masked) << failure();
  EXPECT_EQ(masked.pixel(0, 0), 0xFF102030u);
  // 16 bits with 4-bit channels (ARGB4444, masks in a 56-byte header): each
  // widened by repeating it.
  std::vector<uint8_t> v3 = bmp(56, 1, 1, 16, 3, {}, {0x5A, 0xC3, 0, 0});
  const std::vector<uint8_t> masks = words({0x0F00, 0x00F0, 0x000F, 0xF000});
  std::copy(masks.begin(), masks.end(), v3.begin() + 14 + 40);
  const pellucet::Image wide = load(v3);
  ASSERT_TRUE(wide) << failure();
  EXPECT_EQ(wide.pixel(0, 0), 0xCC3355AAu);
}

// Headers that lie are refused with the reason: pixels inside the headers,
// masks with gaps or shared bits.
TEST_F(ImageFiles, InvalidBmpsAreRefused) {
  const std::vector<uint8_t> row = {1, 2, 3, 0};
  for (int64_t offset : {0, 14, 30, 53}) {
    EXPECT_FALSE(load(bmp(40, 1, 1, 24, 0, {}, row, offset))) << offset;
    EXPECT_TRUE(says("inside the headers")) << failure();
  }
  EXPECT_TRUE(load(bmp(40, 1, 1, 24, 0, {}, row, 54))) << failure();
  for (const auto& masks : {words({0x0F0F0000, 0x0000FF00, 0x000000FF}), words({0x00FF0000, 0x00FFFF00, 0x000000FF}),
                            words({0xFF000000, 0x00FF0000, 0x0000FF00, 0xFF000000})}) {
    EXPECT_FALSE(load(bmp(40, 1, 1, 32, masks.size() == 16 ? 6 : 3, masks, {1, 2, 3, 4})));
    EXPECT_TRUE(says("bit masks")) << failure();
  }
  // An index past a short palette: opaque black, as in PNG.
  const pellucet::Image shortPalette = load(bmp(40, 2, 1, 8, 0, entries({0xFFFFFF}), {0, 9, 0, 0}));
  ASSERT_TRUE(shortPalette) << failure();
  EXPECT_EQ(shortPalette.pixel(0, 0), 0xFFFFFFFFu);
  EXPECT_EQ(shortPalette.pixel(1, 0), 0xFF000000u);
}

// ---- The colours 8- and 16-bit images save as ------------------------------

TEST_F(ImageFiles, EightAndSixteenBitImagesSaveTheColoursTheyShow) {
  // Without a screen, indices take the default 256-colour palette (15 is
  // white, 4 red in its first 16).
  pellucet::Image indexed(2, 1, 8);
  indexed.setPixel(0, 0, 15);
  indexed.setPixel(1, 0, 4);
  pellucet::Image wide(3, 1, 16);
  wide.setPixel(0, 0, 0xFFFFFFFF);
  wide.setPixel(1, 0, 0xFF080808);  // RGB565 1, 2, 1
  wide.setPixel(2, 0, 0xFF3366CC);
  for (const char* name : {"saved.png", "saved.bmp"}) {
    const std::string path = in(name);
    const bool png = name[6] == 'p';
    ASSERT_TRUE(png ? pellucet::savePng(indexed, path.c_str()) : pellucet::saveBmp(indexed, path.c_str()));
    pellucet::Image back = pellucet::loadImage(path.c_str());
    ASSERT_TRUE(back) << failure();
    EXPECT_EQ(back.pixel(0, 0), 0xFFFFFFFFu) << name;
    EXPECT_EQ(back.pixel(1, 0), 0xFFAA0000u) << name;
    ASSERT_TRUE(png ? pellucet::savePng(wide, path.c_str()) : pellucet::saveBmp(wide, path.c_str()));
    back = pellucet::loadImage(path.c_str());
    ASSERT_TRUE(back) << failure();
    EXPECT_EQ(back.pixel(0, 0), 0xFFFFFFFFu) << name;
    EXPECT_EQ(back.pixel(1, 0), 0xFF080808u) << name;
    EXPECT_EQ(back.pixel(2, 0), 0xFF3165CEu) << name;
  }
  // With a screen open, its palette.
  ASSERT_TRUE(pellucet::openScreen(8, 8, 8, 1));
  pellucet::setPalette(15, 0x12, 0x34, 0x56);
  const std::string path = in("screen.png");
  ASSERT_TRUE(pellucet::savePng(indexed, path.c_str()));
  EXPECT_EQ(pellucet::loadImage(path.c_str()).pixel(0, 0), 0xFF123456u);
}

// ---- One size rule -------------------------------------------------------

TEST_F(ImageFiles, WhatIsMadeOrSavedLoadsBack) {
  EXPECT_TRUE(pellucet::Image(32767, 1, 8));
  EXPECT_FALSE(pellucet::Image(32768, 1, 8));
  EXPECT_FALSE(pellucet::Image(16385, 16384, 8));  // over 2^28 pixels, however few bytes each
  EXPECT_TRUE(says("16384 x 16384")) << failure();
  // A wide, short image saves and loads back in both formats.
  pellucet::Image strip(20000, 2, 32);
  strip.setPixel(19999, 1, 0xFF102030);
  for (const char* name : {"strip.png", "strip.bmp"}) {
    const std::string path = in(name);
    ASSERT_TRUE(name[6] == 'p' ? pellucet::savePng(strip, path.c_str()) : pellucet::saveBmp(strip, path.c_str()));
    const pellucet::Image back = pellucet::loadImage(path.c_str());
    ASSERT_TRUE(back) << name << ": " << failure();
    EXPECT_EQ(back.pixel(19999, 1), 0xFF102030u);
  }
  // A header that promises more pixels than the rule allows is refused
  // before anything is read or made.
  EXPECT_FALSE(load(bmp(40, 32767, 8193, 24, 0, {}, {0, 0, 0, 0})));
  EXPECT_TRUE(says("16384 x 16384")) << failure();
}

// ---- Reasons -----------------------------------------------------------------

TEST_F(ImageFiles, EveryFailureSaysWhatAndWhy) {
  EXPECT_FALSE(pellucet::loadImage(static_cast<const char*>(nullptr)));
  EXPECT_TRUE(says("no path")) << failure();
  EXPECT_FALSE(pellucet::loadImage(nullptr, 10));
  EXPECT_TRUE(says("no data")) << failure();
  const std::string missing = in("missing.png");
  EXPECT_FALSE(pellucet::loadImage(missing.c_str()));
  EXPECT_TRUE(says(missing) && says("No such file")) << failure();
  const std::string garbage = in("garbage.png");
  writeAll(garbage, std::vector<uint8_t>(100, 'x'));
  EXPECT_FALSE(pellucet::loadImage(garbage.c_str()));
  EXPECT_EQ(failure(), garbage + ": not a PNG, JPEG or BMP file");
  const pellucet::Image image = randomImage(3, 3, 5);
  const std::string nowhere = in("no/such/folder/x.png");
  EXPECT_FALSE(pellucet::savePng(image, nowhere.c_str()));
  EXPECT_TRUE(says(nowhere) && says("No such file")) << failure();
  EXPECT_FALSE(pellucet::saveBmp(image, nullptr));
  EXPECT_TRUE(says("no path")) << failure();
  EXPECT_FALSE(pellucet::savePng(pellucet::Image{}, in("empty.png").c_str()));
  EXPECT_TRUE(says("empty")) << failure();
  // Puts: no screen, an empty image, alpha at other depths.
  pellucet::Image target(4, 4, 32), low(4, 4, 16);
  EXPECT_FALSE(pellucet::put(target, image, 0, 0));
  EXPECT_TRUE(says("no screen")) << failure();
  ASSERT_TRUE(pellucet::openScreen(16, 16, 32, 1));
  EXPECT_FALSE(pellucet::put(target, pellucet::Image{}, 0, 0));
  EXPECT_TRUE(says("empty")) << failure();
  EXPECT_FALSE(pellucet::put(low, image, 0, 0, pellucet::PutMode::alpha));
  EXPECT_TRUE(says("32 bits")) << failure();
  // Clipped to nothing is no failure: nothing was there to put.
  EXPECT_TRUE(pellucet::put(target, image, 100, 100));
  // Screens: pages and depths that cannot be honoured.
  EXPECT_FALSE(pellucet::openScreen(16, 16, 32, 0));
  EXPECT_TRUE(says("at least 1 page")) << failure();
  EXPECT_FALSE(pellucet::openScreen(16, 16, 32, -2));
  EXPECT_FALSE(pellucet::openNumberedScreen(18, 99));
  EXPECT_TRUE(says("depth 99")) << failure();
  EXPECT_FALSE(pellucet::openNumberedScreen(13, 32));
  EXPECT_TRUE(says("depth 32")) << failure();
  EXPECT_FALSE(pellucet::openNumberedScreen(13, 0, -1));
  ASSERT_TRUE(pellucet::openNumberedScreen(13, 8)) << failure();
  EXPECT_EQ(pellucet::screenInfo().depth, 8);
  ASSERT_TRUE(pellucet::openNumberedScreen(18, 32)) << failure();
  EXPECT_EQ(pellucet::screenInfo().depth, 32);
}
