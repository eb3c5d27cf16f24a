// Each scenario once, run on every back end of the build; a test's name ends
// with the back end it ran on. What a back end cannot show or be sent is
// skipped with the reason.
#include <gtest/gtest.h>
#include <pellucet/pellucet.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "../expected_pixels.h"
#include "conformance.h"
#include "gfx/drivers/window_scale.h"
#include "gfx/input.h"
#include "gfx/mode.h"

using namespace pel::conformance;
namespace pc = pellucet;

namespace {

class Conformance : public ::testing::TestWithParam<const Backend*> {
 protected:
  void SetUp() override {
    const std::string why = backend().start();
    if (!why.empty()) GTEST_SKIP() << why;
    started_ = true;
#ifdef _WIN32
    _putenv_s("KELGFX", backend().driver);
#else
    setenv("KELGFX", backend().driver, 1);
#endif
  }
  void TearDown() override {
    pc::closeScreen();
    if (started_) backend().stop();
  }
  const Backend& backend() const { return *GetParam(); }
  uint32_t shownAs(const pel::ScreenMode* m, int x, int y) const {
    return backend().shownAs ? backend().shownAs(m, x, y) : convertedAs(m, x, y);
  }

  // A screen on this back end, one page, drawn on directly.
  bool open(int width, int height, int depth, uint32_t flags = 0) {
    if (!pc::openScreen(width, height, depth, 1, flags | backend().flags)) {
      ADD_FAILURE() << pc::lastFailure();
      return false;
    }
    EXPECT_STREQ(pc::screenInfo().backend, backend().driver == std::string("null") ? "Null" : backend().driver);
    backend().settle();
    return true;
  }

  // Rows first..last of the page filled with random bytes and marked.
  static void scribble(std::mt19937& random, int first, int last, bool mark = true) {
    const pc::Pixels p = pc::lockPixels();
    for (int y = first; y <= last; ++y) {
      for (int i = 0; i < p.width * p.bytesPerPixel; ++i) p.data[y * p.pitch + i] = static_cast<uint8_t>(random());
    }
    if (mark) {
      pc::unlockPixels(first, last);
    } else {
      pc::unlockPixels(1, 0);
    }
  }

  // Pixels of the client area that differ from the page shown at `shown`
  // (page pixel (x * w / W, y * h / H)), and black outside it; -1 for a
  // client area of another size. Read again for up to 5 s while any
  // differ, since a window's first frame may take a while to come.
  int wrongPixels(int32_t expectW, int32_t expectH, pel::PictureRect shown) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    int wrong = 0;
    while ((wrong = wrongPixelsNow(expectW, expectH, shown)) != 0 && std::chrono::steady_clock::now() < deadline)
      backend().settle();
    return wrong;
  }
  int wrongPixelsNow(int32_t expectW, int32_t expectH, pel::PictureRect shown) {
    int32_t w = 0, h = 0;
    const std::vector<uint32_t> pixels = backend().grab(w, h);
    if (pixels.empty() || w != expectW || h != expectH) return -1;
    const pel::ScreenMode* m = pel::currentMode();
    const int lines = m->height * m->scanlineRepeat;
    int wrong = 0;
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        const int px = x - shown.x, py = y - shown.y;
        const bool inside = px >= 0 && py >= 0 && px < shown.width && py < shown.height;
        const uint32_t expected =
            inside ? shownAs(m, px * m->width / shown.width, py * lines / shown.height / m->scanlineRepeat) : 0;
        wrong += pixels[static_cast<std::size_t>(y) * w + x] != expected;
      }
    }
    return wrong;
  }

 private:
  bool started_ = false;
};

}  // namespace

// Scenarios that read the screen or type keys skip where the back end cannot.
#define NEED_SCREEN() \
  if (!backend().grab) GTEST_SKIP() << backend().noScreen
#define NEED_INPUT() \
  if (!backend().type) GTEST_SKIP() << backend().noInput

// A random page at each depth reaches the window exactly, palette and 5-6-5
// conversion included, rows of any width, a palette change alone repaints,
// and screens with repeated lines show each row twice.
TEST_P(Conformance, EveryPixelAtEachDepth) {
  NEED_SCREEN();
  std::mt19937 random(34);
  for (int depth : {8, 16, 32}) {
    for (int width : {64, 642}) {
      const int height = width == 64 ? 48 : 20;
      if (!open(width, height, depth)) return;
      scribble(random, 0, height - 1);
      backend().settle();
      EXPECT_EQ(wrongPixels(width, height, {0, 0, width, height}), 0) << depth << " bits, " << width << " wide";
    }
    if (depth == 8) {
      for (int i = 0; i < 256; ++i) pc::setPalette(i, static_cast<uint8_t>(255 - i), static_cast<uint8_t>(i), static_cast<uint8_t>(i / 2));
      EXPECT_EQ(wrongPixels(642, 20, {0, 0, 642, 20}), 0) << "a new palette";
    }
  }
  ASSERT_TRUE(pc::openNumberedScreen(8, 0, 1, backend().flags)) << pc::lastFailure();
  ASSERT_EQ(pel::currentMode()->scanlineRepeat, 2);
  scribble(random, 0, pel::currentMode()->height - 1);
  backend().settle();
  EXPECT_EQ(wrongPixels(640, 400, {0, 0, 640, 400}), 0) << "repeated lines";
}

// What is presented is the band from the first to the last marked row:
// rows 10 and 30 marked, rows 5, 20 and 40 changed on the page as well but
// not marked. Row 20 lies inside the band and shows; rows 5 and 40 keep
// what the window showed, as does everything else.
TEST_P(Conformance, OnlyTheMarkedRowsReachTheScreen) {
  NEED_SCREEN();
  std::mt19937 random(35);
  if (!open(64, 48, 32)) return;
  scribble(random, 0, 47);
  ASSERT_EQ(wrongPixels(64, 48, {0, 0, 64, 48}), 0);
  int32_t w = 0, h = 0;
  const std::vector<uint32_t> before = backend().grab(w, h);
  ASSERT_EQ(before.size(), 64u * 48u);
  // One hold of the lock, as one frame's changes are: the window thread,
  // woken as the hold ends, presents them in one pass.
  pc::lockPixels();
  for (int row : {5, 20, 40}) scribble(random, row, row, false);
  scribble(random, 10, 10);
  scribble(random, 30, 30);
  pc::unlockPixels(1, 0);
  const pel::ScreenMode* m = pel::currentMode();
  std::vector<uint32_t> after;
  auto rowShown = [&] {
    for (int x = 0; x < 64; ++x) {
      if (after[30 * 64 + x] != shownAs(m, x, 30)) return false;
    }
    return true;
  };
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  do {
    backend().settle();
    after = backend().grab(w, h);
    ASSERT_EQ(after.size(), before.size());
  } while (!rowShown() && std::chrono::steady_clock::now() < deadline);
  int wrong = 0;
  for (int y = 0; y < 48; ++y) {
    for (int x = 0; x < 64; ++x) {
      const uint32_t expected = y >= 10 && y <= 30 ? shownAs(m, x, y) : before[static_cast<std::size_t>(y) * 64 + x];
      wrong += after[static_cast<std::size_t>(y) * 64 + x] != expected;
    }
  }
  EXPECT_EQ(wrong, 0);
}

// A change on one row is all the platform is told of: the X server's or
// the compositor's record of what the window drew, not the back end's own
// bookkeeping.
TEST_P(Conformance, OnlyTheChangedRowsAreSent) {
  NEED_SCREEN();
  if (!backend().sentRows) GTEST_SKIP() << backend().noRecord;
  std::mt19937 random(37);
  if (!open(64, 48, 32)) return;
  scribble(random, 0, 47);
  ASSERT_EQ(wrongPixels(64, 48, {0, 0, 64, 48}), 0);
  backend().settle();
  backend().watch();
  scribble(random, 20, 20);
  ASSERT_EQ(wrongPixels(64, 48, {0, 0, 64, 48}), 0);
  backend().settle();
  int32_t first = -1, end = -1;
  ASSERT_TRUE(backend().sentRows(first, end));
  EXPECT_EQ(first, 20);
  EXPECT_EQ(end, 21);
}

// A flip's rows reach the platform at once, not at a later tick of the
// window thread's, after the window has been idle: within 50 ms, a bound
// loose enough for a loaded machine (bench_x11 and bench_wayland measure the
// real figure), in four flips of five.
TEST_P(Conformance, AFlipReachesThePlatformAtOnce) {
  NEED_SCREEN();
  if (!backend().sentRows) GTEST_SKIP() << backend().noRecord;
  if (!pc::openScreen(64, 48, 32, 2, backend().flags)) FAIL() << pc::lastFailure();
  pc::setPages(1, 0);
  backend().settle();
  std::mt19937 random(39);
  int prompt = 0;
  std::vector<long> waits;
  for (int flip = 0; flip < 5; ++flip) {
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    backend().watch();
    pc::fillBox(0, 0, 63, 47, 0xFF000000u | static_cast<uint32_t>(random() & 0xFFFFFF));
    const auto flipped = std::chrono::steady_clock::now();
    pc::flip();
    int32_t first = 0, end = 0;
    auto waited = std::chrono::steady_clock::now() - flipped;
    while (backend().sentRows(first, end) && end <= first && waited < std::chrono::seconds(1)) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      waited = std::chrono::steady_clock::now() - flipped;
    }
    waits.push_back(static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(waited).count()));
    prompt += end > first && waited <= std::chrono::milliseconds(50);
  }
  std::string shown;
  for (long ms : waits) shown += std::to_string(ms) + " ms ";
  EXPECT_GE(prompt, 4) << shown;
}

// Frames drawn as fast as a program can, with the window rebuilt between
// them (Alt+Enter's way), keep the platform protocol's rules.
TEST_P(Conformance, FramesKeepThePlatformsRules) {
  if (!backend().protocolFaults) GTEST_SKIP() << "no rules on buffers or pings that a client could break unseen";
  std::mt19937 random(38);
  if (!open(160, 100, 32)) return;
  for (int frame = 0; frame < 120; ++frame) {
    const int first = static_cast<int>(random() % 100), last = first + static_cast<int>(random() % (100 - first));
    scribble(random, first, last);
    std::this_thread::sleep_for(std::chrono::milliseconds(frame % 3));
  }
  backend().settle();
  EXPECT_EQ(backend().protocolFaults(), "");
}

// A held key repeats at the rate and after the delay the platform is set
// to, not at rates of the back end's own.
TEST_P(Conformance, HeldKeysRepeatAtThePlatformsRate) {
  if (!backend().holdKey) GTEST_SKIP() << (backend().noRepeat ? backend().noRepeat : backend().noInput);
  if (!open(64, 48, 32)) return;
  pc::Event e;
  while (pc::pollEvent(e)) {
  }
  // 200 ms, then 50 a second: about 40 repeats in a second's hold (the
  // usual 600 ms and 25 would give 10).
  ASSERT_TRUE(backend().holdKey("a", 1000, 200, 50));
  backend().settle();
  int presses = 0, repeats = 0, releases = 0;
  while (pc::pollEvent(e)) {
    if (e.scanCode != pc::scan::a) continue;
    presses += e.type == pc::EventType::KeyPress;
    repeats += e.type == pc::EventType::KeyRepeat;
    releases += e.type == pc::EventType::KeyRelease;
  }
  EXPECT_EQ(presses, 1);
  EXPECT_EQ(releases, 1);
  EXPECT_GE(repeats, 24);
  EXPECT_LE(repeats, 48);
}

// The pointer in page pixels through the zoom, buttons with their clicks
// (a quick second press is a double click), wheel notches one step each.
TEST_P(Conformance, ThePointerButtonsAndWheelInPagePixels) {
  if (!backend().pointTo) GTEST_SKIP() << (backend().noPointer ? backend().noPointer : backend().noInput);
  if (!open(160, 100, 32, pc::zoom(2))) return;
  pc::Event e;
  auto events = [&] {
    backend().settle();
    std::vector<pc::Event> out;
    while (pc::pollEvent(e)) {
      if (e.type != pc::EventType::FocusGained && e.type != pc::EventType::FocusLost) out.push_back(e);
    }
    return out;
  };
  ASSERT_TRUE(backend().pointTo(300, 190));
  events();
  ASSERT_TRUE(backend().pointTo(61, 41));
  std::vector<pc::Event> seen = events();
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.back().type, pc::EventType::MouseMove);
  EXPECT_EQ(seen.back().x, 30);
  EXPECT_EQ(seen.back().y, 20);
  EXPECT_EQ(pc::mouse().x, 30);
  EXPECT_EQ(pc::mouse().y, 20);

  auto presses = [&](const std::vector<pc::Event>& list) {
    std::vector<std::string> out;
    for (const pc::Event& p : list) {
      if (p.type == pc::EventType::ButtonPress || p.type == pc::EventType::ButtonRelease) {
        out.push_back(std::string(p.type == pc::EventType::ButtonPress ? "press " : "release ") +
                      std::to_string(p.button) + (p.type == pc::EventType::ButtonPress ? " clicks " + std::to_string(p.clicks) : "") +
                      " at " + std::to_string(p.x) + "," + std::to_string(p.y) + " holding " +
                      std::to_string(p.buttons));
      }
    }
    return out;
  };
  ASSERT_TRUE(backend().click(1, 1));
  EXPECT_EQ(presses(events()),
            (std::vector<std::string>{"press 1 clicks 1 at 30,20 holding 1", "release 1 at 30,20 holding 0"}));
  // Past any desktop's double-click time, then two quick clicks.
  std::this_thread::sleep_for(std::chrono::milliseconds(800));
  ASSERT_TRUE(backend().click(1, 2));
  EXPECT_EQ(presses(events()), (std::vector<std::string>{"press 1 clicks 1 at 30,20 holding 1", "release 1 at 30,20 holding 0",
                                                         "press 1 clicks 2 at 30,20 holding 1", "release 1 at 30,20 holding 0"}));
  std::this_thread::sleep_for(std::chrono::milliseconds(800));
  ASSERT_TRUE(backend().click(2, 1));
  ASSERT_TRUE(backend().click(3, 1));
  EXPECT_EQ(presses(events()), (std::vector<std::string>{"press 2 clicks 1 at 30,20 holding 2", "release 2 at 30,20 holding 0",
                                                         "press 4 clicks 1 at 30,20 holding 4", "release 4 at 30,20 holding 0"}));

  const int wheel = pc::mouse().wheel;
  ASSERT_TRUE(backend().scroll(2));
  ASSERT_TRUE(backend().scroll(-1));
  std::vector<int> steps;
  for (const pc::Event& w : events()) {
    if (w.type == pc::EventType::Wheel) steps.push_back(w.step);
  }
  EXPECT_EQ(steps, (std::vector<int>{1, 1, -1}));
  EXPECT_EQ(pc::mouse().wheel, wheel + 1);
}

// A zoomed window shows every page pixel as a zoom x zoom block, and the
// changed row lands on its block.
TEST_P(Conformance, AZoomedWindowShowsEveryPixelAsABlock) {
  NEED_SCREEN();
  std::mt19937 random(36);
  if (!open(64, 48, 16, pc::zoom(3))) return;
  ASSERT_EQ(pc::screenInfo().zoom, 3);
  scribble(random, 0, 47);
  backend().settle();
  EXPECT_EQ(wrongPixels(192, 144, {0, 0, 192, 144}), 0);
  scribble(random, 30, 30);
  backend().settle();
  EXPECT_EQ(wrongPixels(192, 144, {0, 0, 192, 144}), 0) << "after a one-row change";
}

// A resizable window resized by the user shows the page scaled to fit,
// centred, every pixel exact, black bars around it; and so does full
// screen, at whatever size the platform gives it.
TEST_P(Conformance, AResizedWindowAndFullScreenShowEveryPixel) {
  NEED_SCREEN();
  if (!backend().resize) GTEST_SKIP() << backend().noInput;
  std::mt19937 random(39);
  auto fitsEveryPixel = [&](const char* what) {
    int32_t w = 0, h = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    int wrong = -1;
    do {
      backend().settle();
      if (backend().grab(w, h).empty()) continue;
      wrong = wrongPixelsNow(w, h, pel::centredPicture(w, h, 160, 100));
    } while (wrong != 0 && std::chrono::steady_clock::now() < deadline);
    EXPECT_EQ(wrong, 0) << what << " at " << w << " x " << h;
  };
  if (!open(160, 100, 32, pc::resizable)) return;
  scribble(random, 0, 99);
  ASSERT_TRUE(backend().resize(500, 260));
  fitsEveryPixel("resized");
  scribble(random, 40, 40);
  fitsEveryPixel("resized, one row changed");
  // The program heard of the new size and the picture's place, as the
  // window shows them (a tiling compositor may have set both before the
  // user's resize, which then changes nothing).
  int32_t w = 0, h = 0;
  backend().grab(w, h);
  const pel::PictureRect fitted = pel::centredPicture(w, h, 160, 100);
  pc::Event e, resized;
  while (pc::pollEvent(e)) {
    if (e.type == pc::EventType::Resize) resized = e;
  }
  EXPECT_EQ(resized.type, pc::EventType::Resize);
  EXPECT_EQ(resized.width, w);
  EXPECT_EQ(resized.height, h);
  EXPECT_EQ(resized.picture.x, fitted.x);
  EXPECT_EQ(resized.picture.y, fitted.y);
  EXPECT_EQ(resized.picture.width, fitted.width);
  EXPECT_EQ(resized.picture.height, fitted.height);
  const pc::WindowSize now = pc::windowSize();
  EXPECT_EQ(now.width, w);
  EXPECT_EQ(now.height, h);
  EXPECT_EQ(now.picture.width, fitted.width);
  if (!open(160, 100, 32, pc::fullScreen)) return;
  scribble(random, 0, 99);
  fitsEveryPixel("full screen");
}

// Focus lost and regained: one FocusLost, then one FocusGained, and keys
// held when the focus went are held no more.
TEST_P(Conformance, FocusGoesAndComesBack) {
  if (!backend().focus) {
    GTEST_SKIP() << (backend().type ? "the headless seat has a keyboard only while keys are typed, and no focus without it"
                                    : backend().noInput);
  }
  if (!open(64, 48, 32)) return;
  ASSERT_TRUE(backend().focus(true));
  backend().settle();
  pc::Event e;
  while (pc::pollEvent(e)) {
  }
  auto focusEvents = [&] {
    backend().settle();
    std::string out;
    while (pc::pollEvent(e)) {
      if (e.type == pc::EventType::FocusGained) out += "gained ";
      if (e.type == pc::EventType::FocusLost) out += "lost ";
    }
    return out;
  };
  ASSERT_TRUE(backend().focus(false));
  EXPECT_EQ(focusEvents(), "lost ");
  ASSERT_TRUE(backend().focus(true));
  EXPECT_EQ(focusEvents(), "gained ");
}

// The title set before and after the window opens reaches the window.
TEST_P(Conformance, TheTitleReachesTheWindow) {
  if (!backend().title) GTEST_SKIP() << backend().noInput;
  pc::setTitle("Conformance one");
  if (!open(64, 48, 32)) return;
  std::string title;
  ASSERT_TRUE(backend().title(title));
  EXPECT_EQ(title, "Conformance one");
  pc::setTitle("Conformance two");
  backend().settle();
  ASSERT_TRUE(backend().title(title));
  EXPECT_EQ(title, "Conformance two");
}

// The window manager's close request gives the close key and one Close
// event, and the window stays open.
TEST_P(Conformance, TheCloseRequestAsksOnceAndClosesNothing) {
  if (!backend().requestClose) GTEST_SKIP() << backend().noInput;
  if (!open(64, 48, 32)) return;
  pc::Event e;
  while (pc::pollEvent(e)) {
  }
  while (pc::takeKey()) {
  }
  ASSERT_TRUE(backend().requestClose());
  backend().settle();
  EXPECT_EQ(pc::takeKey(), pc::closeKey);
  EXPECT_EQ(pc::takeKey(), 0);
  int closes = 0;
  while (pc::pollEvent(e)) closes += e.type == pc::EventType::Close;
  EXPECT_EQ(closes, 1);
  EXPECT_TRUE(pc::screenOpen());
}

namespace {

// Stands for a scan code of a key's own (0x100 and up) in the expectations.
constexpr int ownCode = -1;

struct Typed {
  Key key;
  int scanCode;
  int character;  // of the KeyPress
  int ringCode;   // what takeKey gives, -1 for nothing
};

bool isModifier(int scanCode) { return scanCode == 0x2A || scanCode == 0x36 || scanCode == 0x1D || scanCode == 0x38; }

}  // namespace

// Keys typed through the platform give the same scan code, character, key
// ring code and one press and one release each, on every back end.
TEST_P(Conformance, TypedKeysGiveTheSameCodesEverywhere) {
  NEED_INPUT();
  namespace s = pc::scan;
  namespace k = pc::key;
  const Typed keys[] = {
      {{"a", plain}, s::a, 'a', 'a'},
      {{"z", plain}, s::z, 'z', 'z'},
      {{"a", shift}, s::a, 'A', 'A'},
      {{"1", plain}, s::digit1, '1', '1'},
      {{"0", plain}, s::digit0, '0', '0'},
      {{"minus", plain}, s::minus, '-', '-'},
      {{"F1", plain}, s::f1, 0, k::f1},
      {{"F10", plain}, s::f10, 0, -1},  // a system key, as Alt combinations are
      {{"F12", plain}, s::f12, 0, k::f12},
      {{"Left", plain}, s::left, 0, k::left},
      {{"Up", plain}, s::up, 0, k::up},
      {{"Home", plain}, s::home, 0, k::home},
      {{"Delete", plain}, s::deleteKey, 0, k::deleteKey},
      {{"Return", plain}, s::enter, 13, k::enter},
      {{"Escape", plain}, s::escape, 27, k::escape},
      {{"space", plain}, s::space, ' ', k::space},
      {{"BackSpace", plain}, s::backspace, 8, k::backspace},
      {{"Tab", plain}, s::tab, 9, k::tab},
      {{"a", alt}, s::a, 0, -1},
      {{"1", shift}, s::digit1, '!', '!'},
      {{"2", shift}, s::digit2, '@', '@'},
      {{"9", shift}, s::digit9, '(', '('},
      {{"KP_Add", plain}, s::keypadPlus, '+', '+'},
      {{"KP_Multiply", plain}, s::keypadMultiply, '*', '*'},
      {{"Delete", ctrl | alt}, s::deleteKey, 0, 0xA3FF},  // not a system key: Ctrl is held too
      {{"eacute", plain}, ownCode, 130, 130},                // no PC key types it
      {{"1", ctrl}, s::digit1, 0, -1},                       // Ctrl types only control characters
  };
  if (!open(64, 48, 32)) return;
  pc::Event e;
  while (pc::pollEvent(e)) {
  }
  while (pc::takeKey()) {
  }
  // A few keys at a time: the key ring holds 15.
  std::vector<std::string> seen, expected;
  std::vector<int> ring, ringExpected;
  int modifierBalance[128] = {};
  std::vector<int> ownCodes;
  std::string text;
  for (std::size_t first = 0; first < std::size(keys); first += 8) {
    std::vector<Key> list;
    for (std::size_t i = first; i < std::size(keys) && i < first + 8; ++i) list.push_back(keys[i].key);
    ASSERT_TRUE(backend().type(list));
    backend().settle();
    // The keys' own events in order; modifiers each pressed and let go alike.
    while (pc::pollEvent(e)) {
      if (e.type == pc::EventType::TextInput) text += e.text;
      if (e.type != pc::EventType::KeyPress && e.type != pc::EventType::KeyRelease) continue;
      const bool press = e.type == pc::EventType::KeyPress;
      if (e.scanCode > 0 && e.scanCode < 128 && isModifier(e.scanCode)) {
        // A modifier held as the window took the keys is let go unseen.
        if (press || modifierBalance[e.scanCode] > 0) modifierBalance[e.scanCode] += press ? 1 : -1;
        continue;
      }
      // A key of no PC keyboard has a code of its own, the same both ways.
      if (e.scanCode >= 0x100) ownCodes.push_back(e.scanCode);
      seen.push_back((press ? "press " : "release ") + std::to_string(e.scanCode >= 0x100 ? ownCode : e.scanCode) +
                     (press ? " char " + std::to_string(e.character) : ""));
    }
    for (int code; (code = pc::takeKey()) != 0;) ring.push_back(code);
  }
  for (const Typed& t : keys) {
    expected.push_back("press " + std::to_string(t.scanCode) + " char " + std::to_string(t.character));
    expected.push_back("release " + std::to_string(t.scanCode));
    if (t.ringCode >= 0) ringExpected.push_back(t.ringCode);
  }
  EXPECT_EQ(seen, expected);
  // The lists are long: name the first difference.
  for (std::size_t i = 0; i < std::max(seen.size(), expected.size()); ++i) {
    const std::string got = i < seen.size() ? seen[i] : "nothing", want = i < expected.size() ? expected[i] : "nothing";
    if (got != want) {
      ADD_FAILURE() << "event " << i << ": " << got << ", expected " << want;
      break;
    }
  }
  // Beside the keys, the text they typed: no control characters, nothing
  // typed with Alt, é in UTF-8.
  EXPECT_EQ(text, "azA10- !@(+*\xc3\xa9");
  ASSERT_EQ(ownCodes.size(), 2u) << "one key without a scan code, pressed and let go";
  EXPECT_EQ(ownCodes[0], ownCodes[1]) << "the same code at its press and its release";
  for (int scan : {0x2A, 0x36, 0x1D, 0x38}) EXPECT_EQ(modifierBalance[scan], 0) << "modifier " << scan;
  EXPECT_EQ(ring, ringExpected);
}

// Dead keys and compose sequences make one character of several keys, as
// the user's locale has them: dead_acute then e types "é", Multi_key then
// three minus signs "—". Every key still has its press and its release; the
// keys that only begin or go on with a sequence type nothing.
TEST_P(Conformance, DeadKeysAndComposeSequencesTypeOneCharacter) {
  NEED_INPUT();
  const std::string name = backend().name;
  if (name != "X11" && name != "OpenGL-GLX" && name != "Wayland") {
    GTEST_SKIP() << "the platform's keyboard layout composes here, not the runtime";
  }
  if (!open(64, 48, 32)) return;
  pc::Event e;
  while (pc::pollEvent(e)) {
  }
  while (pc::takeKey()) {
  }
  ASSERT_TRUE(backend().type({{"dead_acute", plain},
                              {"e", plain},
                              {"Multi_key", plain},
                              {"minus", plain},
                              {"minus", plain},
                              {"minus", plain},
                              {"dead_grave", plain},
                              {"q", plain},  // no such character: the sequence is broken off
                              {"z", plain}}));
  backend().settle();
  std::string text;
  int presses = 0, releases = 0;
  std::vector<int> characters;
  while (pc::pollEvent(e)) {
    if (e.type == pc::EventType::TextInput) text += e.text;
    if (e.type == pc::EventType::KeyPress && !isModifier(e.scanCode)) {
      ++presses;
      characters.push_back(e.character);
    }
    if (e.type == pc::EventType::KeyRelease && !isModifier(e.scanCode)) ++releases;
  }
  EXPECT_EQ(text, "\xc3\xa9\xe2\x80\x94z");
  EXPECT_EQ(presses, 9);
  EXPECT_EQ(releases, 9);
  // The key that ends a sequence carries its character (code page 437's é;
  // none for the dash, which it lacks).
  EXPECT_EQ(characters, (std::vector<int>{0, 130, 0, 0, 0, 0, 0, 0, 'z'}));
  std::vector<int> ring;
  for (int code; (code = pc::takeKey()) != 0;) ring.push_back(code);
  EXPECT_EQ(ring, (std::vector<int>{130, 'z'}));
}

// The runtime's own records and key ring keep its rules on every back end:
// a key's press and release with its scan code and character; a key
// pressed with Alt one KeyRelease at the press; Alt and F10 alone nothing;
// Alt+F4 the close key in the ring, no record, and the window left open.
TEST_P(Conformance, TheRuntimesKeyRulesHold) {
  NEED_INPUT();
  if (!open(64, 48, 32)) return;
  pel::EventRecord r{};
  while (pel::pollEvent(r)) {
  }
  while (pc::takeKey()) {
  }
  ASSERT_TRUE(backend().type({{"Escape", plain},
                              {"Up", ctrl},
                              {"x", alt},
                              {"Alt_L", plain},
                              {"F10", plain},
                              {"F4", alt}}));
  backend().settle();
  std::vector<std::string> records;
  while (pel::pollEvent(r)) {
    const bool key = r.type == pel::KeyPress || r.type == pel::KeyRelease || r.type == pel::KeyRepeat;
    // Shift and Ctrl are keys like any other; the platform may add its own.
    if (!key || r.a == 0x2A || r.a == 0x36 || r.a == 0x1D) continue;
    records.push_back((r.type == pel::KeyPress ? "press " : r.type == pel::KeyRelease ? "release " : "repeat ") +
                      std::to_string(r.a) + (r.type == pel::KeyPress ? " char " + std::to_string(r.b) : ""));
  }
  EXPECT_EQ(records, (std::vector<std::string>{"press 1 char 27", "release 1", "press 72 char 0", "release 72",
                                               "release 45"}));
  std::vector<int> ring;
  for (int code; (code = pc::takeKey()) != 0;) ring.push_back(code);
  EXPECT_EQ(ring, (std::vector<int>{27, 0x8DFF, pel::closeKeyCode}));
  EXPECT_NE(pel::currentMode(), nullptr);
}

// An OpenGL screen has no window thread: keys and the close request wait
// for the program's next flip, and come with it.
TEST_P(Conformance, WithOpenGlInputWaitsForTheFlip) {
  if (!(backend().flags & pc::openGl)) GTEST_SKIP() << "a window thread takes input as it comes";
  NEED_INPUT();
  if (!open(64, 48, 32)) return;
  pel::EventRecord r{};
  while (pel::pollEvent(r)) {
  }
  while (pc::takeKey()) {
  }
  const auto arrive = [] { std::this_thread::sleep_for(std::chrono::milliseconds(300)); };
  ASSERT_TRUE(backend().type({{"Escape", plain}}));
  arrive();
  EXPECT_EQ(pc::takeKey(), 0);
  EXPECT_FALSE(pel::pollEvent(r));
  pc::flip();
  EXPECT_EQ(pc::takeKey(), 27);
  // With it whatever else the platform had to say (focus, the pointer).
  const auto seen = [&r](int32_t type) {
    bool any = false;
    while (pel::pollEvent(r)) any |= r.type == type;
    return any;
  };
  EXPECT_TRUE(seen(pel::KeyPress));
  ASSERT_TRUE(backend().requestClose());
  arrive();
  EXPECT_EQ(pc::takeKey(), 0);
  EXPECT_FALSE(seen(pel::WindowClose));
  pc::flip();
  EXPECT_EQ(pc::takeKey(), pel::closeKeyCode);
  EXPECT_TRUE(seen(pel::WindowClose));
}

// ---- Characters beyond code page 437 and keys held as the focus goes -------

// Characters no code page of the system holds, one beyond the first 65,536
// (two UTF-16 units on Windows): each whole, once, as one TextInput in
// UTF-8; none of them is in code page 437, so the key ring gets nothing.
TEST_P(Conformance, TypedUnicodeArrivesAsText) {
  NEED_INPUT();
  if (!backend().anyCharacter) GTEST_SKIP() << "the adapter types only what keys of its keyboard type";
  if (!open(64, 48, 32)) return;
  pc::Event e;
  while (pc::pollEvent(e)) {
  }
  while (pc::takeKey()) {
  }
  ASSERT_TRUE(backend().type({{"U017C", plain}, {"U2014", plain}, {"U20AC", plain}, {"U1F600", plain}}));
  backend().settle();
  std::vector<std::string> texts;
  while (pc::pollEvent(e)) {
    if (e.type == pc::EventType::TextInput) texts.push_back(e.text);
  }
  EXPECT_EQ(texts, (std::vector<std::string>{"\xc5\xbc", "\xe2\x80\x94", "\xe2\x82\xac", "\xf0\x9f\x98\x80"}));
  EXPECT_EQ(pc::takeKey(), 0);
}

// What the platform's input method commits (a phrase of several characters,
// longer than one event carries) comes as TextInput, split between whole
// characters, with no key events of its own.
TEST_P(Conformance, InputMethodTextArrivesAsText) {
  if (!backend().commitText) GTEST_SKIP() << "the adapter has no input method";
  if (!open(64, 48, 32)) return;
  backend().settle();
  pc::Event e;
  while (pc::pollEvent(e)) {
  }
  // Twelve characters of three bytes each: 36 bytes, more than one event's 31.
  const std::string phrase = "\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e\xe3\x81\xae\xe6\x96\x87\xe7\xab\xa0\xe3\x82\x92"
                             "\xe6\x9b\xb8\xe3\x81\x8f\xe3\x81\x93\xe3\x81\xa8";  // 日本語の文章を書くこと
  ASSERT_TRUE(backend().commitText(phrase.c_str()));
  backend().settle();
  std::string text;
  int pieces = 0, keys = 0;
  while (pc::pollEvent(e)) {
    if (e.type == pc::EventType::TextInput) {
      text += e.text;
      ++pieces;
      EXPECT_EQ(std::strlen(e.text) % 3, 0u) << "a piece ends inside a character";
    }
    keys += e.type == pc::EventType::KeyPress || e.type == pc::EventType::KeyRelease;
  }
  EXPECT_EQ(text, phrase);
  EXPECT_EQ(pieces, 2);
  EXPECT_EQ(keys, 0);
}

// Which Shift, Ctrl or Alt is held reaches the events beside the modifier
// itself: Right Shift with a letter is shift and rightShift, never leftShift.
TEST_P(Conformance, EventsTellTheSidesOfTheModifiersApart) {
  if (!backend().pressKey) GTEST_SKIP() << "the adapter cannot hold a key between calls";
  if (!open(64, 48, 32)) return;
  pc::Event e;
  backend().settle();
  while (pc::pollEvent(e)) {
  }
  struct Case {
    const char* modifier;
    const char* key;
    uint32_t expected;
  };
  const Case cases[] = {{"Shift_R", "a", pc::shift | pc::rightShift},
                        {"Shift_L", "a", pc::shift | pc::leftShift},
                        {"Control_R", "x", pc::control | pc::rightControl},
                        {"Control_L", "x", pc::control | pc::leftControl},
                        {"Alt_L", "x", pc::alt | pc::leftAlt}};
  constexpr uint32_t asked = pc::shift | pc::control | pc::alt | pc::leftShift | pc::rightShift | pc::leftControl |
                             pc::rightControl | pc::leftAlt | pc::rightAlt;
  // Wine's input gives right Shift the left one's scan code and key state
  // (Windows keeps them apart: VK_RSHIFT): there only Ctrl and Alt can show.
  const std::string name = backend().name;
  const bool wine = name == "GDI" || name == "DirectX" || name == "Direct2D" || name == "OpenGL-WGL";
  for (const Case& c : cases) {
    if (wine && std::string(c.modifier) == "Shift_R") continue;
    ASSERT_TRUE(backend().pressKey(c.modifier, true));
    ASSERT_TRUE(backend().pressKey(c.key, true));
    ASSERT_TRUE(backend().pressKey(c.key, false));
    ASSERT_TRUE(backend().pressKey(c.modifier, false));
    backend().settle();
    uint32_t seen = 0xFFFFFFFF;
    while (pc::pollEvent(e)) {
      if (e.type == pc::EventType::KeyPress && e.scanCode == (c.key[0] == 'a' ? pc::scan::a : pc::scan::x)) {
        seen = e.modifiers & asked;
      }
    }
    EXPECT_EQ(seen, c.expected) << c.modifier << " with " << c.key;
  }
}

// A key held as the window loses the focus is let go then, once, and
// keyDown no longer reports it; its real release, which goes elsewhere,
// adds nothing when the focus comes back. A key pressed elsewhere and held
// as the focus comes back is held.
TEST_P(Conformance, KeysHeldAsTheFocusGoesAreLetGo) {
  if (!backend().pressKey || !backend().focus) GTEST_SKIP() << "the adapter cannot hold a key while the focus moves";
  if (!open(64, 48, 32)) return;
  ASSERT_TRUE(backend().focus(true));
  backend().settle();
  pc::Event e;
  auto keyEvents = [&] {
    backend().settle();
    std::vector<std::string> out;
    while (pc::pollEvent(e)) {
      if (e.type == pc::EventType::KeyPress || e.type == pc::EventType::KeyRelease) {
        out.push_back((e.type == pc::EventType::KeyPress ? "press " : "release ") + std::to_string(e.scanCode));
      }
    }
    return out;
  };
  keyEvents();
  namespace s = pc::scan;
  // Shift and a letter (the key path), then Alt alone (a system key).
  ASSERT_TRUE(backend().pressKey("Shift_L", true));
  ASSERT_TRUE(backend().pressKey("a", true));
  EXPECT_EQ(keyEvents(), (std::vector<std::string>{"press 42", "press 30"}));
  EXPECT_TRUE(pc::keyDown(s::leftShift));
  EXPECT_TRUE(pc::keyDown(s::a));
  ASSERT_TRUE(backend().focus(false));
  std::vector<std::string> released = keyEvents();
  std::sort(released.begin(), released.end());
  EXPECT_EQ(released, (std::vector<std::string>{"release 30", "release 42"}));
  EXPECT_FALSE(pc::keyDown(s::leftShift));
  EXPECT_FALSE(pc::keyDown(s::a));
  ASSERT_TRUE(backend().pressKey("a", false));
  ASSERT_TRUE(backend().pressKey("Shift_L", false));
  ASSERT_TRUE(backend().focus(true));
  EXPECT_EQ(keyEvents(), std::vector<std::string>{});
  EXPECT_FALSE(pc::keyDown(s::leftShift));
  EXPECT_FALSE(pc::keyDown(s::a));

  ASSERT_TRUE(backend().pressKey("Alt_L", true));
  EXPECT_EQ(keyEvents(), (std::vector<std::string>{"press 56"}));
  EXPECT_TRUE(pc::keyDown(s::alt));
  ASSERT_TRUE(backend().focus(false));
  EXPECT_EQ(keyEvents(), (std::vector<std::string>{"release 56"}));
  EXPECT_FALSE(pc::keyDown(s::alt));
  ASSERT_TRUE(backend().pressKey("Alt_L", false));
  ASSERT_TRUE(backend().focus(true));
  EXPECT_EQ(keyEvents(), std::vector<std::string>{});
  EXPECT_FALSE(pc::keyDown(s::alt));

  // Held before the focus comes back: held once it has.
  // (Away and back before the window hears of it would be no focus change.)
  // Under Wine, in a full run, the key state read as the focus comes back
  // sometimes lacks a key pressed while another window had it: not yet
  // understood, so this step is the native back ends' for now.
  const std::string name = backend().name;
  if (name == "GDI" || name == "DirectX" || name == "Direct2D" || name == "OpenGL-WGL") return;
  ASSERT_TRUE(backend().focus(false));
  keyEvents();
  ASSERT_TRUE(backend().pressKey("Shift_L", true));
  ASSERT_TRUE(backend().focus(true));
  keyEvents();
  EXPECT_TRUE(pc::keyDown(s::leftShift));
  ASSERT_TRUE(backend().pressKey("Shift_L", false));
  keyEvents();
  EXPECT_FALSE(pc::keyDown(s::leftShift));
}

INSTANTIATE_TEST_SUITE_P(, Conformance, ::testing::ValuesIn(backendsOfThisBuild()),
                         [](const ::testing::TestParamInfo<const Backend*>& info) {
                           std::string name = info.param->name;
                           for (char& c : name) {
                             if (c == '-') c = '_';
                           }
                           return name;
                         });
