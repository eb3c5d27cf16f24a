// The public key names agree with the runtime's key translation.
#include <gtest/gtest.h>

#include <pellucet/pellucet.h>

#include <cstdint>
#include <random>
#include <sstream>
#include <string>

#include "gfx/input.h"

namespace {

// The runtime's key code for a key pressed alone: Windows virtual key, scan
// code, enhanced or not.
int codeOf(int virtualKey, int scanCode, bool enhanced) {
  return pel::translateKey(0, scanCode, virtualKey, enhanced ? pel::keymod::enhanced : 0, 0);
}

}  // namespace

TEST(PublicKeys, KeyCodesAreTheRuntimesOwn) {
  EXPECT_EQ(pellucet::key::up, codeOf(0x26, pellucet::scan::up, true));
  EXPECT_EQ(pellucet::key::down, codeOf(0x28, pellucet::scan::down, true));
  EXPECT_EQ(pellucet::key::left, codeOf(0x25, pellucet::scan::left, true));
  EXPECT_EQ(pellucet::key::right, codeOf(0x27, pellucet::scan::right, true));
  EXPECT_EQ(pellucet::key::home, codeOf(0x24, pellucet::scan::home, true));
  EXPECT_EQ(pellucet::key::end, codeOf(0x23, pellucet::scan::end, true));
  EXPECT_EQ(pellucet::key::pageUp, codeOf(0x21, pellucet::scan::pageUp, true));
  EXPECT_EQ(pellucet::key::pageDown, codeOf(0x22, pellucet::scan::pageDown, true));
  EXPECT_EQ(pellucet::key::insert, codeOf(0x2D, pellucet::scan::insert, true));
  EXPECT_EQ(pellucet::key::deleteKey, codeOf(0x2E, pellucet::scan::deleteKey, true));
  const int functionKeys[] = {pellucet::key::f1, pellucet::key::f2, pellucet::key::f3, pellucet::key::f4,
                              pellucet::key::f5, pellucet::key::f6, pellucet::key::f7, pellucet::key::f8,
                              pellucet::key::f9, pellucet::key::f10, pellucet::key::f11, pellucet::key::f12};
  const int functionScans[] = {pellucet::scan::f1, pellucet::scan::f2, pellucet::scan::f3, pellucet::scan::f4,
                               pellucet::scan::f5, pellucet::scan::f6, pellucet::scan::f7, pellucet::scan::f8,
                               pellucet::scan::f9, pellucet::scan::f10, pellucet::scan::f11, pellucet::scan::f12};
  for (int i = 0; i < 12; ++i) EXPECT_EQ(functionKeys[i], codeOf(0x70 + i, functionScans[i], false)) << "F" << i + 1;
}

// Scan codes are those the runtime gives for the keys' virtual keys.
TEST(PublicKeys, ScanCodesAreTheRuntimesOwn) {
  EXPECT_EQ(pellucet::scan::escape, pel::scancodeFromVirtualKey(0x1B));
  EXPECT_EQ(pellucet::scan::enter, pel::scancodeFromVirtualKey(0x0D));
  EXPECT_EQ(pellucet::scan::space, pel::scancodeFromVirtualKey(0x20));
  EXPECT_EQ(pellucet::scan::a, pel::scancodeFromVirtualKey('A'));
  EXPECT_EQ(pellucet::scan::z, pel::scancodeFromVirtualKey('Z'));
  EXPECT_EQ(pellucet::scan::digit0, pel::scancodeFromVirtualKey('0'));
  EXPECT_EQ(pellucet::scan::digit9, pel::scancodeFromVirtualKey('9'));
  EXPECT_EQ(pellucet::scan::leftShift, pel::scancodeFromVirtualKey(0x10));
  EXPECT_EQ(pellucet::scan::control, pel::scancodeFromVirtualKey(0x11));
  EXPECT_EQ(pellucet::scan::alt, pel::scancodeFromVirtualKey(0x12));
  EXPECT_EQ(pellucet::scan::up, pel::scancodeFromVirtualKey(0x26));
  EXPECT_EQ(pellucet::scan::f12, pel::scancodeFromVirtualKey(0x7B));
  EXPECT_EQ(pellucet::scan::deleteKey, pel::scancodeFromVirtualKey(0x2E));
}

TEST(PublicKeys, NamesInWords) {
  EXPECT_STREQ(pellucet::scanName(pellucet::scan::escape), "Escape");
  EXPECT_STREQ(pellucet::scanName(pellucet::scan::a), "A");
  EXPECT_STREQ(pellucet::scanName(pellucet::scan::rightShift), "Right Shift");
  EXPECT_STREQ(pellucet::scanName(pellucet::scan::f11), "F11");
  EXPECT_STREQ(pellucet::scanName(0x7F), "");
  EXPECT_STREQ(pellucet::keyName(pellucet::key::enter), "Enter");
  EXPECT_STREQ(pellucet::keyName(pellucet::key::up), "Up");
  EXPECT_STREQ(pellucet::keyName(pellucet::key::f12), "F12");
  EXPECT_STREQ(pellucet::keyName(pellucet::closeKey), "Close");
  EXPECT_STREQ(pellucet::keyName('q'), "q");
  EXPECT_EQ(std::string(pellucet::keyName(130)), "\x82");  // code page 437's é
  EXPECT_STREQ(pellucet::keyName(0), "");
  EXPECT_STREQ(pellucet::keyName(0x1234), "");
}

// Every code a key with any modifiers puts in the key ring has a name,
// whatever the modifiers: the translation's whole range.
TEST(PublicKeys, EveryCodeTheRingCanHoldHasAName) {
  for (int32_t vk = 1; vk < 256; ++vk) {
    for (int32_t held = 0; held < 16; ++held) {
      const int32_t modifiers = (held & 1 ? pel::keymod::shift : 0) | (held & 2 ? pel::keymod::leftCtrl : 0) |
                                (held & 4 ? pel::keymod::leftAlt : 0) | (held & 8 ? pel::keymod::enhanced : 0);
      const int32_t code =
          pel::translateKey(pel::unshiftedCharacter(vk), pel::scancodeFromVirtualKey(vk), vk, modifiers, 0);
      if (code > 255) {
        EXPECT_STRNE(pellucet::keyName(code), "") << std::hex << code << " from key " << vk;
      }
    }
  }
  EXPECT_STREQ(pellucet::keyName(0x73FF), "Ctrl+Left");
  EXPECT_STREQ(pellucet::keyName(0x54FF), "Shift+F1");
  EXPECT_STREQ(pellucet::keyName(0xA3FF), "Alt+Delete");
}

// The random generators are the ones the header describes.
TEST(PublicRandom, TheAlgorithmsAreTheDocumentedOnes) {
  // MT19937 from a state filled by the seed's generator, loaded into the
  // standard library's engine (624 words, then the position: at the end).
  pellucet::seedRandom(5);
  std::stringstream state;
  for (uint32_t i = 0, w = 5; i < 624; ++i, w = w * 1664525u + 1013904223u) state << w << ' ';
  state << 624;
  std::mt19937 twister;
  state >> twister;
  ASSERT_TRUE(state);
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(pellucet::nextRandom(), twister() / 4294967296.0) << i;
  pellucet::seedRandom(77, pellucet::RandomAlgorithm::fast);
  uint32_t x = 77;
  for (int i = 0; i < 100; ++i) {
    x = x * 1664525u + 1013904223u;
    ASSERT_EQ(pellucet::nextRandom(), x / 4294967296.0) << i;
  }
  pellucet::seedRandom(-1, pellucet::RandomAlgorithm::withSystemEntropy);
  for (int i = 0; i < 1000; ++i) {
    const double v = pellucet::nextRandom();
    ASSERT_TRUE(v >= 0.0 && v < 1.0) << v;
  }
  pellucet::seedRandom(9);
  int seen[7] = {};
  for (int i = 0; i < 7000; ++i) {
    const int v = pellucet::randomBetween(-3, 3);
    ASSERT_TRUE(v >= -3 && v <= 3) << v;
    ++seen[v + 3];
  }
  for (int count : seen) EXPECT_GT(count, 800);
  EXPECT_EQ(pellucet::randomBetween(4, 2), 4);
  EXPECT_GE(pellucet::randomBetween(INT32_MIN, INT32_MAX), INT32_MIN);
}
