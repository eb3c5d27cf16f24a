// JPEG files made by ImageMagick at test time (baseline, progressive, grey,
// subsampled or not, odd sizes), read and compared pixel by pixel with
// ImageMagick's own reading of the same file; each EXIF orientation shown
// upright; CMYK, cut, damaged and oversized files refused with their reason.
// The orientation tag is also read from bytes made here, and the turns are
// checked pixel by pixel on small images.
#include <gtest/gtest.h>

#include <pellucet/pellucet.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

#include "api/image_codecs.h"

namespace {

constexpr const char* convertProgram = "/usr/bin/convert";

using Bytes = std::vector<uint8_t>;

// What a command wrote on its standard output; false when it failed.
bool output(const std::string& command, Bytes& out) {
  out.clear();
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return false;
  uint8_t buffer[65536];
  std::size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.insert(out.end(), buffer, buffer + got);
  return pclose(pipe) == 0;
}

bool run(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

Bytes fileBytes(const std::string& path) {
  Bytes bytes;
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    uint8_t buffer[65536];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, f)) > 0) bytes.insert(bytes.end(), buffer, buffer + got);
    std::fclose(f);
  }
  return bytes;
}

void writeBytes(const std::string& path, const Bytes& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr) << path;
  ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
  std::fclose(f);
}

std::string quoted(const std::string& path) { return "'" + path + "'"; }

// ImageMagick's reading of a file (after `operations`), as 8-bit RGB.
struct Picture {
  int width = 0, height = 0;
  Bytes rgb;
};

bool imageMagickReading(const std::string& path, const std::string& operations, Picture& picture) {
  Bytes pnm;
  if (!output(std::string(convertProgram) + " " + quoted(path) + " " + operations + " -depth 8 ppm:-", pnm)) {
    return false;
  }
  // P6 (or P5 for grey), width, height, 255, one white-space byte, samples.
  std::size_t at = 2;
  int fields[3] = {};
  for (int& field : fields) {
    while (at < pnm.size() && std::isspace(pnm[at])) ++at;
    while (at < pnm.size() && std::isdigit(pnm[at])) field = field * 10 + (pnm[at++] - '0');
  }
  const int channels = pnm.size() > 1 && pnm[1] == '5' ? 1 : 3;
  ++at;
  picture.width = fields[0];
  picture.height = fields[1];
  const std::size_t samples = static_cast<std::size_t>(fields[0]) * fields[1] * channels;
  if (pnm.size() < 2 || pnm[0] != 'P' || fields[2] != 255 || pnm.size() - at != samples) return false;
  picture.rgb.clear();
  for (std::size_t i = at; i < pnm.size(); ++i) {
    for (int repeat = 0; repeat < 4 - channels; ++repeat) picture.rgb.push_back(pnm[i]);
  }
  return true;
}

// The largest difference of a channel between the image and the picture,
// or -1 when their sizes differ or a pixel is not opaque.
int largestDifference(const pellucet::Image& image, const Picture& picture) {
  if (image.width() != picture.width || image.height() != picture.height || image.depth() != 32) return -1;
  int worst = 0;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      const uint32_t v = image.pixel(x, y);
      if (v >> 24 != 0xFF) return -1;
      const uint8_t* expected = &picture.rgb[(static_cast<std::size_t>(y) * picture.width + x) * 3];
      for (int c = 0; c < 3; ++c) {
        worst = std::max(worst, std::abs(static_cast<int>(v >> (16 - 8 * c) & 0xFF) - expected[c]));
      }
    }
  }
  return worst;
}

// The segments before the image data: marker and where the segment starts.
struct Segment {
  uint8_t marker;
  std::size_t at, length;  // length with its own two bytes
};

std::vector<Segment> segmentsOf(const Bytes& file) {
  std::vector<Segment> segments;
  std::size_t at = 2;
  while (at + 4 <= file.size() && file[at] == 0xFF) {
    const std::size_t length = static_cast<std::size_t>(file[at + 2] << 8 | file[at + 3]);
    segments.push_back({file[at + 1], at, length});
    if (file[at + 1] == 0xDA) break;
    at += 2 + length;
  }
  return segments;
}

// The frame header: its marker (0xC0 baseline, 0xC2 progressive) and where
// it starts; marker 0 for none.
Segment frameOf(const Bytes& file) {
  for (const Segment& s : segmentsOf(file)) {
    if (s.marker >= 0xC0 && s.marker <= 0xCF && s.marker != 0xC4 && s.marker != 0xC8 && s.marker != 0xCC) return s;
  }
  return {0, 0, 0};
}

int componentsOf(const Bytes& file) {
  const Segment frame = frameOf(file);
  return frame.marker ? file[frame.at + 9] : 0;
}

void setFrameSize(Bytes& file, int width, int height) {
  const std::size_t at = frameOf(file).at;
  file[at + 5] = static_cast<uint8_t>(height >> 8);
  file[at + 6] = static_cast<uint8_t>(height);
  file[at + 7] = static_cast<uint8_t>(width >> 8);
  file[at + 8] = static_cast<uint8_t>(width);
}

// A TIFF block of one IFD holding the given entries (tag, type, count,
// value bytes as they stand in the file), in either byte order.
struct Entry {
  uint16_t tag, type;
  uint32_t count;
  uint8_t value[4];
};

Bytes tiffOf(bool little, const std::vector<Entry>& entries, uint32_t ifd = 8) {
  Bytes t;
  auto put16 = [&](uint32_t v) {
    const uint8_t a = static_cast<uint8_t>(v >> 8), b = static_cast<uint8_t>(v);
    t.push_back(little ? b : a);
    t.push_back(little ? a : b);
  };
  auto put32 = [&](uint32_t v) {
    put16(little ? v & 0xFFFF : v >> 16);
    put16(little ? v >> 16 : v & 0xFFFF);
  };
  t.push_back(little ? 'I' : 'M');
  t.push_back(little ? 'I' : 'M');
  put16(42);
  put32(ifd);
  put16(static_cast<uint32_t>(entries.size()));
  for (const Entry& e : entries) {
    put16(e.tag);
    put16(e.type);
    put32(e.count);
    t.insert(t.end(), e.value, e.value + 4);
  }
  put32(0);  // no next IFD
  return t;
}

// An orientation entry: one SHORT, in the first two value bytes.
Entry orientationEntry(bool little, uint16_t value, uint16_t type = 3, uint32_t count = 1) {
  Entry e{0x0112, type, count, {0, 0, 0, 0}};
  e.value[little ? 0 : 1] = static_cast<uint8_t>(value);
  e.value[little ? 1 : 0] = static_cast<uint8_t>(value >> 8);
  return e;
}

Bytes segment(uint8_t marker, const Bytes& payload) {
  Bytes s{0xFF, marker, static_cast<uint8_t>((payload.size() + 2) >> 8), static_cast<uint8_t>(payload.size() + 2)};
  s.insert(s.end(), payload.begin(), payload.end());
  return s;
}

Bytes exifSegment(const Bytes& tiff) {
  Bytes payload{'E', 'x', 'i', 'f', 0, 0};
  payload.insert(payload.end(), tiff.begin(), tiff.end());
  return segment(0xE1, payload);
}

// The file with the segments put right after its start-of-image marker.
Bytes withAfterStart(const Bytes& file, const Bytes& segments) {
  Bytes out(file.begin(), file.begin() + 2);
  out.insert(out.end(), segments.begin(), segments.end());
  out.insert(out.end(), file.begin() + 2, file.end());
  return out;
}

// Markers, as a file has them: SOI, the given segments, then an SOS and a
// few bytes of image data and EOI.
Bytes markers(const std::vector<Bytes>& segments) {
  Bytes out{0xFF, 0xD8};
  for (const Bytes& s : segments) out.insert(out.end(), s.begin(), s.end());
  const Bytes sos = segment(0xDA, {1, 1, 0, 0, 63, 0});
  out.insert(out.end(), sos.begin(), sos.end());
  for (uint8_t b : {0x12, 0x34, 0xFF, 0xD9}) out.push_back(b);
  return out;
}

int orientationOf(const Bytes& file) {
  const Bytes exact(file);  // of exactly its size, so a read past it is caught
  return pellucet::codec::jpegOrientation(exact.data(), exact.size());
}

pellucet::Image load(const Bytes& file) {
  const Bytes exact(file);
  return pellucet::loadImage(exact.data(), exact.size());
}

class JpegFiles : public ::testing::Test {
 protected:
  void SetUp() override {
#if !defined(PEL_HAVE_JPEG)
    GTEST_SKIP() << "this build has no JPEG library";
#endif
    if (access(convertProgram, X_OK) != 0) {
      GTEST_SKIP() << "ImageMagick (" << convertProgram << ") is not installed to make the files";
    }
    std::string pattern = ::testing::TempDir() + "pellucet-jpeg-XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    folder_ = pattern + "/";
  }
  void TearDown() override {
    if (!folder_.empty()) std::filesystem::remove_all(folder_);
  }
  // A JPEG of ImageMagick's plasma picture, made with the given options.
  std::string make(const std::string& name, int width, int height, const std::string& options) {
    const std::string path = folder_ + name;
    const bool made = run(std::string(convertProgram) + " -seed 5 -size " + std::to_string(width) + "x" +
                          std::to_string(height) + " plasma:fractal " + options + " " + quoted(path));
    EXPECT_TRUE(made) << name << ": " << options;
    return path;
  }
  std::string folder_;
};

}  // namespace

// Every kind the reader takes, at sizes with whole, partial and single
// blocks, against ImageMagick's decoding of the same file.
TEST_F(JpegFiles, ReadAsImageMagickReadsThem) {
  struct Kind {
    const char* name;
    const char* options;
    uint8_t frame;
    int components;
  };
  const Kind kinds[] = {
      {"baseline-420", "-quality 85 -sampling-factor 2x2", 0xC0, 3},
      {"baseline-422", "-quality 85 -sampling-factor 2x1", 0xC0, 3},
      {"baseline-444", "-quality 95 -sampling-factor 1x1", 0xC0, 3},
      {"progressive-420", "-quality 85 -sampling-factor 2x2 -interlace JPEG", 0xC2, 3},
      {"progressive-444", "-quality 95 -sampling-factor 1x1 -interlace JPEG", 0xC2, 3},
      {"grey", "-quality 85 -colorspace Gray", 0xC0, 1},
      {"grey-progressive", "-quality 85 -colorspace Gray -interlace JPEG", 0xC2, 1},
  };
  const int sizes[][2] = {{1, 1}, {37, 23}, {64, 48}, {203, 131}};
  int worst = 0;
  for (const Kind& kind : kinds) {
    for (const auto& size : sizes) {
      const std::string name = std::string(kind.name) + "-" + std::to_string(size[0]) + "x" + std::to_string(size[1]);
      const std::string path = make(name + ".jpg", size[0], size[1], kind.options);
      const Bytes file = fileBytes(path);
      // The file is the kind asked for.
      ASSERT_EQ(frameOf(file).marker, kind.frame) << name;
      ASSERT_EQ(componentsOf(file), kind.components) << name;
      Picture expected;
      ASSERT_TRUE(imageMagickReading(path, "", expected)) << name;
      const pellucet::Image image = pellucet::loadImage(path.c_str());
      ASSERT_TRUE(image) << name << ": " << pellucet::lastFailure();
      const int difference = largestDifference(image, expected);
      EXPECT_GE(difference, 0) << name << ": " << image.width() << " x " << image.height();
      EXPECT_LE(difference, 1) << name;
      worst = std::max(worst, difference);
    }
  }
  // An RGB file (an Adobe marker saying the samples are not transformed, no
  // JFIF marker): the samples of the 4:4:4 file above taken as R, G and B.
  {
    const Bytes ycc = fileBytes(folder_ + "baseline-444-37x23.jpg");
    Bytes rgb(ycc.begin(), ycc.begin() + 2);
    const Bytes adobe = segment(0xEE, {'A', 'd', 'o', 'b', 'e', 0, 100, 0, 0, 0, 0, 0});
    rgb.insert(rgb.end(), adobe.begin(), adobe.end());
    for (const Segment& s : segmentsOf(ycc)) {
      if (s.marker == 0xE0) {  // JFIF, which would make it YCbCr
        rgb.insert(rgb.end(), ycc.begin() + static_cast<std::ptrdiff_t>(s.at + 2 + s.length), ycc.end());
        break;
      }
    }
    ASSERT_LT(rgb.size(), ycc.size());
    const std::string path = folder_ + "rgb.jpg";
    writeBytes(path, rgb);
    Picture expected;
    ASSERT_TRUE(imageMagickReading(path, "", expected));
    const pellucet::Image image = pellucet::loadImage(path.c_str());
    ASSERT_TRUE(image) << pellucet::lastFailure();
    const int difference = largestDifference(image, expected);
    EXPECT_GE(difference, 0);
    EXPECT_LE(difference, 1);
    worst = std::max(worst, difference);
    // Not what the YCbCr file gives.
    EXPECT_NE(largestDifference(pellucet::loadImage((folder_ + "baseline-444-37x23.jpg").c_str()), expected), 0);
  }
  std::printf("largest difference from ImageMagick: %d\n", worst);
  RecordProperty("largest_difference", worst);
}

// A picture of four solid quadrants, tagged with each orientation by
// ImageMagick (in both byte orders), shows upright: its size, its corners and
// every pixel as ImageMagick's -auto-orient gives them.
TEST_F(JpegFiles, EachExifOrientationShowsUpright) {
  constexpr uint32_t red = 0xFFFF0000, green = 0xFF00FF00, blue = 0xFF0000FF, yellow = 0xFFFFFF00;
  const std::string plain = folder_ + "quadrants.jpg";
  ASSERT_TRUE(run(std::string(convertProgram) +
                  " -size 64x32 xc:red -fill lime -draw 'rectangle 32,0 63,15' -fill blue -draw 'rectangle 0,16 31,31'"
                  " -fill yellow -draw 'rectangle 32,16 63,31' -quality 95 " + quoted(plain)));
  struct Shown {
    const char* name;
    int width, height;
    uint32_t topLeft, topRight, bottomLeft, bottomRight;
  };
  // As stored: red green over blue yellow.
  const Shown shown[9] = {
      {},
      {"TopLeft", 64, 32, red, green, blue, yellow},
      {"TopRight", 64, 32, green, red, yellow, blue},
      {"BottomRight", 64, 32, yellow, blue, green, red},
      {"BottomLeft", 64, 32, blue, yellow, red, green},
      {"LeftTop", 32, 64, red, blue, green, yellow},
      {"RightTop", 32, 64, blue, red, yellow, green},
      {"RightBottom", 32, 64, yellow, green, blue, red},
      {"LeftBottom", 32, 64, green, yellow, red, blue},
  };
  auto near = [](uint32_t a, uint32_t b) {
    for (int shift = 0; shift < 32; shift += 8) {
      if (std::abs(static_cast<int>(a >> shift & 0xFF) - static_cast<int>(b >> shift & 0xFF)) > 8) return false;
    }
    return true;
  };
  for (bool little : {true, false}) {
    // ImageMagick rewrites an orientation tag the file has, so it is given
    // one first.
    const std::string tagged = folder_ + (little ? "tagged-ii.jpg" : "tagged-mm.jpg");
    writeBytes(tagged, withAfterStart(fileBytes(plain), exifSegment(tiffOf(little, {orientationEntry(little, 1)}))));
    for (int orientation = 1; orientation <= 8; ++orientation) {
      const Shown& s = shown[orientation];
      const std::string name = std::string(little ? "II " : "MM ") + s.name;
      const std::string path = folder_ + "oriented-" + std::to_string(orientation) + (little ? "-ii" : "-mm") + ".jpg";
      ASSERT_TRUE(run(std::string(convertProgram) + " " + quoted(tagged) + " -orient " + s.name + " " + quoted(path)));
      Bytes tag;
      ASSERT_TRUE(output("/usr/bin/identify -format %[orientation] " + quoted(path), tag));
      ASSERT_EQ(std::string(tag.begin(), tag.end()), s.name);
      const Bytes file = fileBytes(path);
      for (const Segment& exif : segmentsOf(file)) {
        if (exif.marker == 0xE1) {
          EXPECT_EQ(file[exif.at + 10], little ? 'I' : 'M') << name;  // the byte order kept
        }
      }
      const pellucet::Image image = pellucet::loadImage(path.c_str());
      ASSERT_TRUE(image) << name << ": " << pellucet::lastFailure();
      ASSERT_EQ(image.width(), s.width) << name;
      ASSERT_EQ(image.height(), s.height) << name;
      const int r = s.width - 1, b = s.height - 1;
      EXPECT_TRUE(near(image.pixel(0, 0), s.topLeft)) << name << std::hex << ": " << image.pixel(0, 0);
      EXPECT_TRUE(near(image.pixel(r, 0), s.topRight)) << name << std::hex << ": " << image.pixel(r, 0);
      EXPECT_TRUE(near(image.pixel(0, b), s.bottomLeft)) << name << std::hex << ": " << image.pixel(0, b);
      EXPECT_TRUE(near(image.pixel(r, b), s.bottomRight)) << name << std::hex << ": " << image.pixel(r, b);
      Picture upright;
      ASSERT_TRUE(imageMagickReading(path, "-auto-orient", upright));
      EXPECT_EQ(largestDifference(image, upright), 0) << name;
    }
  }
}

TEST_F(JpegFiles, CmykIsRefused) {
  const std::string path = folder_ + "cmyk.jpg";
  ASSERT_TRUE(run(std::string(convertProgram) + " -size 16x16 xc:orange -colorspace CMYK " + quoted(path)));
  ASSERT_EQ(componentsOf(fileBytes(path)), 4);
  EXPECT_FALSE(pellucet::loadImage(path.c_str()));
  EXPECT_NE(std::string(pellucet::lastFailure()).find("JPEG: CMYK files are not read"), std::string::npos)
      << pellucet::lastFailure();
}

// A file cut anywhere before its end, or with anything but a JPEG after its
// first three bytes, is refused with a reason; damage inside the image data
// never reads outside the file.
TEST_F(JpegFiles, CutAndDamagedFilesAreRefused) {
  for (const char* options : {"-quality 85", "-quality 85 -interlace JPEG", "-colorspace Gray -interlace JPEG"}) {
    const Bytes file = fileBytes(make("cut.jpg", 37, 23, options));
    ASSERT_TRUE(load(file)) << options << ": " << pellucet::lastFailure();
    const Bytes half(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(file.size() / 2));
    EXPECT_FALSE(load(half)) << options;
    EXPECT_STREQ(pellucet::lastFailure(), "JPEG: the file is truncated") << options;
    for (std::size_t cut = 3; cut < file.size(); ++cut) {
      EXPECT_FALSE(load(Bytes(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(cut)))) << options << " " << cut;
      EXPECT_NE(std::string(pellucet::lastFailure()), "") << options << " " << cut;
    }
    // Bytes after the end of the image are not looked at.
    Bytes longer = file;
    longer.insert(longer.end(), 100, 0x5A);
    EXPECT_TRUE(load(longer)) << options << ": " << pellucet::lastFailure();
    // Damage: whatever the decoder makes of it, a clear refusal or an image
    // of the file's size.
    std::mt19937 random(11);
    for (int trial = 0; trial < 300; ++trial) {
      Bytes damaged = file;
      for (int flips = 1 + static_cast<int>(random() % 4); flips > 0; --flips) {
        damaged[2 + random() % (damaged.size() - 2)] ^= static_cast<uint8_t>(1 + random() % 255);
      }
      const pellucet::Image image = load(damaged);
      const Segment frame = frameOf(damaged);
      if (image) {
        // The size the (maybe damaged) frame header gives.
        ASSERT_NE(frame.marker, 0) << options << " " << trial;
        EXPECT_EQ(image.height(), damaged[frame.at + 5] << 8 | damaged[frame.at + 6]) << options << " " << trial;
        EXPECT_EQ(image.width(), damaged[frame.at + 7] << 8 | damaged[frame.at + 8]) << options << " " << trial;
      } else {
        EXPECT_NE(std::string(pellucet::lastFailure()), "") << options << " " << trial;
      }
    }
  }
  Bytes garbage{0xFF, 0xD8, 0xFF};
  std::mt19937 random(12);
  for (int i = 0; i < 200; ++i) garbage.push_back(static_cast<uint8_t>(random()));
  EXPECT_FALSE(load(garbage));
  EXPECT_EQ(std::string(pellucet::lastFailure()).rfind("JPEG: ", 0), 0u) << pellucet::lastFailure();
  // The end at once; fill bytes to the end.
  Bytes onlyFill(64, 0xFF);
  onlyFill[1] = 0xD8;
  for (const Bytes& b : {Bytes{0xFF, 0xD8, 0xFF, 0xD9, 0, 0, 0, 0}, onlyFill}) {
    EXPECT_FALSE(load(b));
    EXPECT_EQ(std::string(pellucet::lastFailure()).rfind("JPEG: ", 0), 0u) << pellucet::lastFailure();
    EXPECT_GT(std::strlen(pellucet::lastFailure()), 6u);
  }
}

// Sizes beyond an image's, and files that would need more than the decoder is
// given (memory, scans), are refused before the work is done.
TEST_F(JpegFiles, FilesBeyondTheLimitsAreRefused) {
  const Bytes small = fileBytes(make("small.jpg", 8, 8, "-quality 85"));
  for (auto [w, h] : {std::pair{40000, 8}, std::pair{8, 32768}, std::pair{20000, 20000}}) {
    Bytes big = small;
    setFrameSize(big, w, h);
    EXPECT_FALSE(load(big));
    const std::string expected = "JPEG: a size of " + std::to_string(w) + " x " + std::to_string(h);
    EXPECT_EQ(std::string(pellucet::lastFailure()).rfind(expected, 0), 0u) << pellucet::lastFailure();
  }
  // A progressive 4:4:4 picture of 16384 x 16384 keeps 1.5 GiB of
  // coefficients until its last scan.
  Bytes progressive = fileBytes(make("progressive.jpg", 8, 8, "-quality 85 -sampling-factor 1x1 -interlace JPEG"));
  setFrameSize(progressive, 16384, 16384);
  EXPECT_FALSE(load(progressive));
  EXPECT_STREQ(pellucet::lastFailure(), "JPEG: decoding it would take more than 1024 MiB");
  // A grey progressive file whose DC scan is repeated (first scans of a
  // finished DC, so libjpeg sees nothing wrong) past the most scans read.
  const Bytes grey = fileBytes(make("grey.jpg", 8, 8, "-colorspace Gray -interlace JPEG"));
  ASSERT_EQ(componentsOf(grey), 1);
  Bytes scan = segment(0xDA, {1, grey[frameOf(grey).at + 10], 0x00, 0, 0, 0x00});
  for (int i = 0; i < 4; ++i) scan.push_back(0);
  for (int scans : {900, 1000}) {
    Bytes many(grey.begin(), grey.end() - 2);  // without EOI
    for (int i = 0; i < scans; ++i) many.insert(many.end(), scan.begin(), scan.end());
    many.push_back(0xFF);
    many.push_back(0xD9);
    const pellucet::Image image = load(many);
    if (scans == 900) {
      EXPECT_TRUE(image) << pellucet::lastFailure();
    } else {
      EXPECT_FALSE(image);
      EXPECT_STREQ(pellucet::lastFailure(), "JPEG: more than 1000 scans");
    }
  }
}

// The orientation tag from bytes made here: either byte order, anywhere in
// the IFD, after other segments.
TEST(JpegOrientation, TagReadInEitherByteOrder) {
  for (bool little : {true, false}) {
    for (uint16_t value = 1; value <= 8; ++value) {
      const Bytes file = markers({exifSegment(tiffOf(little, {orientationEntry(little, value)}))});
      EXPECT_EQ(orientationOf(file), value) << little;
    }
    const Entry other{0x010F, 2, 4, {'A', 'B', 'C', 0}};  // Make, before it in the IFD
    const Bytes xmp = segment(0xE1, {'h', 't', 't', 'p', ':', '/', '/', 'n', 's', 0});
    const Bytes jfif = segment(0xE0, {'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0});
    Bytes file = markers({jfif, xmp, exifSegment(tiffOf(little, {other, orientationEntry(little, 6)}))});
    EXPECT_EQ(orientationOf(file), 6) << little;
    // Fill bytes before a marker.
    file.insert(file.begin() + 2, {0xFF, 0xFF});
    EXPECT_EQ(orientationOf(file), 6) << little;
    // The IFD further on, past a gap.
    Bytes later = tiffOf(little, {orientationEntry(little, 7)}, 20);
    later.insert(later.begin() + 8, 12, 0xEE);
    EXPECT_EQ(orientationOf(markers({exifSegment(later)})), 7) << little;
  }
}

// Anything out of place gives 1, as stored, and nothing is read outside the
// bytes given.
TEST(JpegOrientation, MalformedExifGivesAsStored) {
  const bool little = true;
  const Bytes good = markers({exifSegment(tiffOf(little, {orientationEntry(little, 6)}))});
  ASSERT_EQ(orientationOf(good), 6);
  // Every cut: the value only once the whole segment is there.
  const std::size_t segmentEnd = 2 + 2 + (good[4] << 8 | good[5]);
  for (std::size_t cut = 0; cut <= good.size(); ++cut) {
    EXPECT_EQ(orientationOf(Bytes(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(cut))),
              cut >= segmentEnd ? 6 : 1)
        << cut;
  }
  // The file ends with the segment, so any read past it is caught.
  auto withTiff = [](const Bytes& tiff) { return orientationOf(withAfterStart({0xFF, 0xD8}, exifSegment(tiff))); };
  EXPECT_EQ(withTiff(tiffOf(little, {})), 1);                                         // no tag
  EXPECT_EQ(withTiff(tiffOf(little, {orientationEntry(little, 0)})), 1);              // 0
  EXPECT_EQ(withTiff(tiffOf(little, {orientationEntry(little, 9)})), 1);              // 9
  EXPECT_EQ(withTiff(tiffOf(little, {orientationEntry(little, 6, 4)})), 1);           // a LONG
  EXPECT_EQ(withTiff(tiffOf(little, {orientationEntry(little, 6, 3, 2)})), 1);        // two values
  EXPECT_EQ(withTiff(tiffOf(little, {orientationEntry(little, 6)}, 0xFFFFFFF0)), 1);  // IFD past the end
  EXPECT_EQ(withTiff(tiffOf(little, {orientationEntry(little, 6)}, 4)), 1);           // IFD in the header
  {
    Bytes t = tiffOf(little, {orientationEntry(little, 6)}, 24);  // IFD two bytes before the end,
    t[24] = 1;                                                    // counting one entry
    EXPECT_EQ(withTiff(t), 1);
    t = tiffOf(little, {orientationEntry(little, 6)});
    t[8] = 2;  // two entries counted, one there
    t.resize(t.size() - 4);
    EXPECT_EQ(withTiff(t), 1);
    t = tiffOf(little, {orientationEntry(little, 6)});
    t[2] = 43;
    EXPECT_EQ(withTiff(t), 1);
    t = tiffOf(little, {orientationEntry(little, 6)});
    t[1] = 'M';  // "IM"
    EXPECT_EQ(withTiff(t), 1);
  }
  // A segment's length past the end of the file; too short to hold its own
  // length; an EXIF segment after the image data starts; not Exif but
  // something like it; not a JPEG.
  Bytes longer = good;
  longer[5] = static_cast<uint8_t>(longer[5] + 200);
  EXPECT_EQ(orientationOf(longer), 1);
  EXPECT_EQ(orientationOf(markers({Bytes{0xFF, 0xE0, 0, 1}, exifSegment(tiffOf(little, {orientationEntry(little, 6)}))})),
            1);
  Bytes afterScan = markers({});
  const Bytes exif = exifSegment(tiffOf(little, {orientationEntry(little, 6)}));
  afterScan.insert(afterScan.end() - 2, exif.begin(), exif.end());
  EXPECT_EQ(orientationOf(afterScan), 1);
  Bytes exifLike = good;
  exifLike[9] = 'X';
  EXPECT_EQ(orientationOf(exifLike), 1);
  Bytes notJpeg = good;
  notJpeg[1] = 0xD9;
  EXPECT_EQ(orientationOf(notJpeg), 1);
  EXPECT_EQ(pellucet::codec::jpegOrientation(nullptr, 0), 1);
}

// Each orientation turns a 3 x 2 image of distinct pixels to where its
// meaning puts them (the stored image made upright), at every depth.
TEST(Oriented, EveryPixelWhereTheOrientationPutsIt) {
  // As stored:  a b c
  //             d e f
  const char* upright[9] = {
      nullptr,
      "abc/def",
      "cba/fed",     // mirrored left to right
      "fed/cba",     // half a turn
      "def/abc",     // mirrored top to bottom
      "ad/be/cf",    // transposed
      "da/eb/fc",    // a quarter turn clockwise
      "fc/eb/da",    // transposed across the other diagonal
      "cf/be/ad",    // a quarter turn anticlockwise
  };
  for (int depth : {8, 16, 32}) {
    for (int orientation = 1; orientation <= 8; ++orientation) {
      pellucet::Image image(3, 2, depth);
      ASSERT_TRUE(image);
      const uint32_t base = depth == 8 ? 0x10 : depth == 16 ? 0x1230 : 0x80402010;
      for (int i = 0; i < 6; ++i) {
        const uint32_t v = base + static_cast<uint32_t>(i);
        std::memcpy(image.pixels() + (i / 3) * image.pitch() + (i % 3) * image.bytesPerPixel(), &v,
                    static_cast<std::size_t>(image.bytesPerPixel()));
      }
      const uint8_t* before = image.pixels();
      const pellucet::Image turned = pellucet::codec::oriented(std::move(image), orientation);
      ASSERT_TRUE(turned) << pellucet::lastFailure();
      EXPECT_EQ(turned.depth(), depth);
      if (orientation == 1) {
        EXPECT_EQ(turned.pixels(), before);  // as it is, not copied
      }
      std::string rows;
      for (int y = 0; y < turned.height(); ++y) {
        if (y) rows += '/';
        for (int x = 0; x < turned.width(); ++x) {
          uint32_t v = 0;
          std::memcpy(&v, turned.pixels() + y * turned.pitch() + x * turned.bytesPerPixel(),
                      static_cast<std::size_t>(turned.bytesPerPixel()));
          rows += static_cast<char>('a' + (v - base));
        }
      }
      EXPECT_EQ(rows, upright[orientation]) << "orientation " << orientation << " at " << depth << " bits";
    }
  }
  // Values outside 1 to 8 leave the image as it is.
  for (int orientation : {0, 9, -1}) {
    pellucet::Image image(2, 1, 32);
    image.setPixel(0, 0, 0xFF010203);
    const pellucet::Image same = pellucet::codec::oriented(std::move(image), orientation);
    EXPECT_EQ(same.width(), 2);
    EXPECT_EQ(same.pixel(0, 0), 0xFF010203u);
  }
}
