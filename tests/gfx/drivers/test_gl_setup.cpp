// What the OpenGL back ends share: option defaults, the extension rule and
// text, the attribute list and the sample lowering.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gfx/drivers/gl_setup.h"

using namespace pel;

namespace {

std::vector<int32_t> colour(const GlOptions& o) {
  return {o.colorBits, o.redBits, o.greenBits, o.blueBits, o.alphaBits, o.depthBits, o.stencilBits, o.samples};
}
std::vector<int32_t> accumulation(const GlOptions& o) {
  return {o.accumBits, o.accumRedBits, o.accumGreenBits, o.accumBlueBits, o.accumAlphaBits};
}

// Names 1 to 19 in the order of the record, so the list shows the order.
constexpr FormatAttributeNames numbered = {1, 100, 2, 200, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17};

}  // namespace

TEST(GlSetup, DefaultsFollowTheDepthAndTheFlags) {
  GlOptions o{};
  fillGlDefaults(o, 16, 0);
  EXPECT_EQ(colour(o), std::vector<int32_t>({16, 5, 5, 5, 0, 16, 0, 0}));
  EXPECT_EQ(accumulation(o), std::vector<int32_t>({0, 0, 0, 0, 0}));
  o = {};
  fillGlDefaults(o, 32, glflag::stencil | glflag::accumulation | glflag::multisample);
  EXPECT_EQ(colour(o), std::vector<int32_t>({32, 8, 8, 8, 8, 16, 8, 4}));
  EXPECT_EQ(accumulation(o), std::vector<int32_t>({32, 8, 8, 8, 8}));
  // 24 bits: three bytes, so 8-8-8 and no alpha.
  o = {};
  fillGlDefaults(o, 24, 0);
  EXPECT_EQ(colour(o), std::vector<int32_t>({24, 8, 8, 8, 0, 16, 0, 0}));
  // Sizes already given stay; the colour bits come from the channels.
  o = {};
  o.redBits = o.greenBits = o.blueBits = 4;
  o.depthBits = 24;
  o.accumRedBits = 16;
  fillGlDefaults(o, 32, 0);
  EXPECT_EQ(colour(o), std::vector<int32_t>({12, 4, 4, 4, 0, 24, 0, 0}));
  EXPECT_EQ(accumulation(o), std::vector<int32_t>({16, 16, 5, 5, 0}));
  // 8 bits and below: no channel sizes at all.
  o = {};
  fillGlDefaults(o, 8, 0);
  EXPECT_EQ(colour(o), std::vector<int32_t>({8, 0, 0, 0, 0, 16, 0, 0}));
}

TEST(GlSetup, AnExtensionCountsOnlyAsAWholeName) {
  EXPECT_TRUE(extensionOffered("GL_EXT_bgra", "GL_EXT_bgra"));
  EXPECT_TRUE(extensionOffered("GL_A GL_EXT_bgra GL_B", "GL_EXT_bgra"));
  EXPECT_FALSE(extensionOffered("GL_EXT_bgra_ext GL_EXT_bgrab", "GL_EXT_bgra"));
  EXPECT_TRUE(extensionOffered("GL_EXT_bgra_ext GL_EXT_bgra", "GL_EXT_bgra"));  // the search goes on
  EXPECT_FALSE(extensionOffered("XGL_EXT_bgra", "GL_EXT_bgra"));
  EXPECT_FALSE(extensionOffered("", "GL_EXT_bgra"));
  EXPECT_FALSE(extensionOffered(nullptr, "GL_EXT_bgra"));
  EXPECT_FALSE(extensionOffered("GL_EXT_bgr", "GL_EXT_bgra"));
}

TEST(GlSetup, TheExtensionTextJoinsBothStringsAndFits) {
  static char text[extensionTextSize];
  // A GL string without a trailing space keeps its last name.
  buildExtensionText(text, "GL_A GL_EXT_bgra", "WGL_ARB_pixel_format");
  EXPECT_STREQ(text, "GL_A GL_EXT_bgra WGL_ARB_pixel_format");
  EXPECT_TRUE(extensionOffered(text, "GL_EXT_bgra"));
  EXPECT_TRUE(extensionOffered(text, "WGL_ARB_pixel_format"));
  buildExtensionText(text, "GL_A ", nullptr);
  EXPECT_STREQ(text, "GL_A ");
  buildExtensionText(text, nullptr, "WGL_B");
  EXPECT_STREQ(text, "WGL_B");
  const std::string longText(20000, 'x');
  buildExtensionText(text, longText.c_str(), "WGL_B");
  EXPECT_EQ(std::string(text), longText.substr(0, extensionTextSize - 1));
}

TEST(GlSetup, TheAttributeListKeepsItsOrder) {
  GlOptions o{};
  fillGlDefaults(o, 32, 0);
  EXPECT_EQ(formatAttributes(numbered, o).list,
            std::vector<int32_t>({1, 100, 2, 200, 3, 1, 4, 32, 5, 8, 6, 8, 7, 8, 8, 8, 9, 16, 0}));
  o = {};
  fillGlDefaults(o, 16, glflag::stencil | glflag::accumulation | glflag::multisample);
  const FormatAttributes a = formatAttributes(numbered, o);
  EXPECT_EQ(a.list, std::vector<int32_t>({1, 100, 2, 200, 3, 1, 4, 16, 5, 5, 6, 5, 7, 5, 8, 0, 9, 16, 10, 32, 11, 8,
                                          12, 8, 13, 8, 14, 8, 15, 8, 16, 1, 17, 4, 0}));
  EXPECT_EQ(a.list[a.samplesAt], 4);
  // A platform without a name for an attribute leaves it out.
  FormatAttributeNames noTotal = numbered;
  noTotal.accumBits = 0;
  EXPECT_EQ(formatAttributes(noTotal, o).list.size(), a.list.size() - 2);
}

TEST(GlSetup, SamplesAreLoweredByTwoDownToZero) {
  GlOptions o{};
  fillGlDefaults(o, 32, glflag::multisample);
  auto samplesIn = [](const int32_t* list) {
    for (; *list; list += 2) {
      if (list[0] == 17) return list[1];
    }
    return -1;
  };
  // A chooser offering at most 2 samples.
  FormatAttributes a = formatAttributes(numbered, o);
  std::vector<int32_t> asked;
  auto found = chooseLoweringSamples(a, [&](const int32_t* list) -> std::optional<int32_t> {
    asked.push_back(samplesIn(list));
    return samplesIn(list) <= 2 ? std::optional<int32_t>(7) : std::nullopt;
  });
  EXPECT_EQ(found, std::optional<int32_t>(7));
  EXPECT_EQ(asked, std::vector<int32_t>({4, 2}));
  EXPECT_EQ(samplesLeft(a), 2);
  // One offering nothing: 4, 2, 0, then the platform's plain choice.
  a = formatAttributes(numbered, o);
  asked.clear();
  found = chooseLoweringSamples(a, [&](const int32_t* list) -> std::optional<int32_t> {
    asked.push_back(samplesIn(list));
    return std::nullopt;
  });
  EXPECT_FALSE(found);
  EXPECT_EQ(asked, std::vector<int32_t>({4, 2, 0}));
  EXPECT_LT(samplesLeft(a), 0);
  // Without samples asked: one try.
  o.samples = 0;
  a = formatAttributes(numbered, o);
  int tries = 0;
  chooseLoweringSamples(a, [&](const int32_t*) -> std::optional<int32_t> {
    ++tries;
    return std::nullopt;
  });
  EXPECT_EQ(tries, 1);
  EXPECT_EQ(samplesLeft(a), 0);
}

// A platform that names no samples attribute: nothing is lowered, and the
// values before stay as asked (the depth among them).
TEST(GlSetup, NoSamplesAttributeLowersNothing) {
  GlOptions o{};
  fillGlDefaults(o, 32, glflag::multisample);
  FormatAttributeNames names = numbered;
  names.samples = 0;
  names.sampleBuffers = 0;
  FormatAttributes a = formatAttributes(names, o);
  const std::vector<int32_t> before = a.list;
  int tries = 0;
  EXPECT_FALSE(chooseLoweringSamples(a, [&](const int32_t*) -> std::optional<int32_t> {
    ++tries;
    return std::nullopt;
  }));
  EXPECT_EQ(tries, 1);
  EXPECT_EQ(a.list, before);
  EXPECT_EQ(samplesLeft(a), 0);
}

TEST(GlSetup, ThePaletteGoesToTheColourMaps) {
  setGlPalette(3, 255, 128, 0);
  setGlPalette(-1, 1, 1, 1);
  setGlPalette(256, 1, 1, 1);
  EXPECT_FLOAT_EQ(glColorMaps().red[3], 255.0f / 256.0f);
  EXPECT_FLOAT_EQ(glColorMaps().green[3], 0.5f);
  EXPECT_FLOAT_EQ(glColorMaps().blue[3], 0.0f);
}
