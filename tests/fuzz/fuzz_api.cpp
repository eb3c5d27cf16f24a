// Random sequences of public calls on the null back end: screens of random
// sizes, depths, pages and flags opened and closed, drawing, flips, pages,
// palettes, the pixels, events and keys posted as the window rules post
// them, the console, text, keys' names and the random generators. After each
// call the screen the public layer reports must agree with what was asked,
// or the open must have failed with a reason.
#include <pellucet/pellucet.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "../gfx/drivers/quiet_platform.h"
#include "fuzz_input.h"
#include "gfx/drivers/window_rules.h"
#include "gfx/input.h"
#include "gfx/mode.h"

namespace {

using fuzz::Reader;

[[noreturn]] void broken(const char* what) {
  std::fprintf(stderr, "invariant broken: %s\n", what);
  std::abort();
}

float coordinate(Reader& in) {
  const uint8_t kind = in.take<uint8_t>();
  if (kind < 220) return static_cast<float>(in.take<int16_t>()) / 4.0f;
  return in.take<float>();  // NaN, infinities, huge values
}

std::string bytes(Reader& in) {
  const size_t length = in.take<uint8_t>() % 40;
  std::string s;
  for (size_t i = 0; i < length; ++i) s.push_back(static_cast<char>(in.take<uint8_t>()));
  return s;
}

// The screen the layer reports agrees with itself.
void checkScreen() {
  const pellucet::ScreenInfo info = pellucet::screenInfo();
  if (pellucet::screenOpen() != (info.width != 0)) broken("screenOpen and screenInfo disagree");
  if (!pellucet::screenOpen()) return;
  if (info.height <= 0 || info.pages < 1 || info.pitch < info.width * info.bytesPerPixel) broken("screen info");
}

const pel::WindowPlatform& quiet = test::quietPlatform;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::useNullBackEnd();
  Reader in{data, size};
  pel::WindowRules rules{};
  pel::resetWindowRules(rules, quiet, 64, 48);
  for (int step = 0; step < 64 && in.n > 0; ++step) {
    switch (in.take<uint8_t>() % 26) {
      case 0: {
        constexpr int depths[] = {1, 2, 4, 8, 15, 16, 24, 32, 0, 12, -8, 64};
        const int width = in.take<int16_t>() % 700, height = in.take<int16_t>() % 500;
        const int depth = depths[in.take<uint8_t>() % 12], pages = in.take<int8_t>() % 5;
        const uint32_t flags = in.take<uint8_t>() & ~uint32_t{pellucet::openGl};
        if (pellucet::openScreen(width, height, depth, pages, flags, in.take<int8_t>())) {
          const pellucet::ScreenInfo info = pellucet::screenInfo();
          if (info.width != width || info.height != height) broken("the screen opened is not the one asked for");
          if (std::strcmp(pellucet::lastFailure(), "") != 0) broken("a failure text after a success");
          pel::resetWindowRules(rules, quiet, width, height);
          rules.active = true;
        } else if (std::strcmp(pellucet::lastFailure(), "") == 0) {
          broken("a failed open gives no reason");
        }
        break;
      }
      case 1:
        if (!pellucet::openNumberedScreen(in.take<int8_t>() % 25, in.take<uint8_t>() % 40, in.take<int8_t>() % 4) &&
            std::strcmp(pellucet::lastFailure(), "") == 0) {
          broken("a failed numbered open gives no reason");
        }
        break;
      case 2: pellucet::closeScreen(); break;
      case 3: pellucet::line(coordinate(in), coordinate(in), coordinate(in), coordinate(in), in.take<uint32_t>()); break;
      case 4: pellucet::box(coordinate(in), coordinate(in), coordinate(in), coordinate(in), in.take<uint32_t>()); break;
      case 5: pellucet::fillBox(coordinate(in), coordinate(in), coordinate(in), coordinate(in), in.take<uint32_t>()); break;
      case 6: pellucet::clear(in.take<uint32_t>()); break;
      case 7: {
        const float x = coordinate(in), y = coordinate(in);
        const std::string s = bytes(in);
        if (in.take<uint8_t>() & 1) {
          pellucet::text(x, y, s, in.take<uint32_t>(), in.take<uint32_t>());
        } else {
          pellucet::text(x, y, s, in.take<uint32_t>());
        }
        const pellucet::TextSize size = pellucet::measureText(s);
        if (size.width < 0 || size.height < 0) broken("a negative measure");
        break;
      }
      case 8: pellucet::textFont(static_cast<pellucet::Font>(in.take<int8_t>() % 20)); break;
      case 9: pellucet::flip(); break;
      case 10: {
        const int work = in.take<int8_t>() % 6, visible = in.take<int8_t>() % 6;
        const bool done = pellucet::setPages(work, visible);
        const int pages = pellucet::screenInfo().pages;
        if (done && (work >= pages || visible >= pages)) broken("setPages took a page out of range");
        break;
      }
      case 11: pellucet::setPalette(in.take<int16_t>() % 300, in.take<uint8_t>(), in.take<uint8_t>(), in.take<uint8_t>()); break;
      case 12: pellucet::resetPalette(); break;
      case 13: {
        const pellucet::Pixels p = pellucet::lockPixels();
        if ((p.data != nullptr) != pellucet::screenOpen()) broken("pixels without a screen, or none with one");
        if (p.data && p.height > 0) {
          // Writes anywhere inside the page, which ASan checks.
          const size_t bytesInPage = static_cast<size_t>(p.pitch) * static_cast<size_t>(p.height);
          const size_t at = in.take<uint32_t>() % bytesInPage;
          p.data[at] = in.take<uint8_t>();
          p.data[bytesInPage - 1] ^= 1;
        }
        if (in.take<uint8_t>() & 1) {
          pellucet::unlockPixels();
        } else {
          pellucet::unlockPixels(in.take<int16_t>(), in.take<int16_t>());
        }
        break;
      }
      case 14: {
        // A key message as a window layer gives it.
        const auto kind = static_cast<pel::KeyMessage>(in.take<uint8_t>() % 3);
        pel::keyMessage(rules, kind, in.take<uint8_t>(), in.take<uint8_t>() % 0x60, in.take<uint16_t>() & 0x11F,
                        in.take<uint8_t>(), 1 + in.take<uint8_t>() % 3, in.take<uint8_t>() & 1);
        break;
      }
      case 15: pel::systemKeyUp(rules, in.take<uint8_t>(), in.take<uint16_t>() & 0x1F); break;
      case 16: {
        const int x = in.take<int16_t>(), y = in.take<int16_t>();
        pel::pointerMove(rules, x, y, x + 7, y + 9);
        switch (in.take<uint8_t>() % 5) {
          case 0: pel::buttonDown(rules, 1 << (in.take<uint8_t>() % 3), in.take<uint8_t>() & 1); break;
          case 1: pel::buttonUp(rules, 1 << (in.take<uint8_t>() % 3)); break;
          case 2: pel::wheelStep(rules, in.take<uint8_t>() & 1, in.take<uint8_t>() & 1); break;
          case 3: pel::pointerLeave(rules); break;
          default: pel::toggleFullScreen(rules); break;
        }
        break;
      }
      case 17: {
        // Records as other code posts them, and window records with any fields.
        pel::EventRecord r{in.take<int32_t>() % 20, in.take<int32_t>(), in.take<int32_t>(), in.take<int32_t>(),
                           in.take<int32_t>()};
        pel::WindowEvent e = pel::namedRecord(r);
        if (in.take<uint8_t>() & 1) {
          e.bare = false;
          e.key.report = static_cast<pel::KeyReport>(in.take<uint8_t>() % 4);
          e.wheel.step = in.take<int32_t>();
          e.moment = {true, in.take<int32_t>(), in.take<int32_t>(), in.take<int32_t>(), in.take<int32_t>()};
          for (char& c : e.text) c = static_cast<char>(in.take<uint8_t>());
        }
        pel::postEvent(e);
        break;
      }
      case 18: {
        pellucet::Event e;
        for (int i = in.take<uint8_t>() % 8; i >= 0 && pellucet::pollEvent(e); --i) {
          if (e.type == pellucet::EventType::ButtonPress && e.clicks != 1 && e.clicks != 2) broken("clicks");
        }
        break;
      }
      case 19: {
        // Codes as the layers post them: a character as a signed byte, or an
        // extended code.
        const uint8_t b = in.take<uint8_t>();
        pel::postKey(in.take<uint8_t>() & 1 ? static_cast<int8_t>(b) : b << 8 | 0xFF);
        const int code = pellucet::takeKey();
        if (code < 0) broken("a negative key code");
        (void)pellucet::keyName(code);
        (void)pellucet::scanName(in.take<int32_t>());
        break;
      }
      case 20: pellucet::print(bytes(in)); break;
      case 21: pellucet::locate(in.take<int16_t>(), in.take<int16_t>()); break;
      case 22: pellucet::textColour(in.take<uint32_t>(), in.take<uint32_t>()); break;
      case 23: {
        // Images made at any size and depth, put on the page and into each
        // other (onto themselves too), grabbed back.
        constexpr int depths[] = {0, 8, 16, 32, 24, -1};
        pellucet::Image a(in.take<int8_t>(), in.take<int8_t>(), depths[in.take<uint8_t>() % 6]);
        if (!a && std::strcmp(pellucet::lastFailure(), "") == 0) broken("an image refused without a reason");
        pellucet::clear(a, in.take<uint32_t>());
        const auto mode = static_cast<pellucet::PutMode>(in.take<uint8_t>() % 3);
        const pellucet::Rect part{in.take<int8_t>(), in.take<int8_t>(), in.take<int8_t>(), in.take<int8_t>()};
        if (!pellucet::put(a, in.take<int8_t>(), in.take<int8_t>(), mode, in.take<uint32_t>(), part) &&
            std::strcmp(pellucet::lastFailure(), "") == 0) {
          broken("a failed put gives no reason");
        }
        pellucet::put(a, a, in.take<int8_t>(), in.take<int8_t>(), mode, in.take<uint32_t>(), part);
        pellucet::Image g = pellucet::grab(in.take<int16_t>(), in.take<int16_t>(), in.take<int16_t>(), in.take<int16_t>());
        if (g && (g.width() > pellucet::screenInfo().width || g.height() > pellucet::screenInfo().height)) {
          broken("a grab larger than the page");
        }
        if (g) pellucet::put(g, a, in.take<int8_t>(), in.take<int8_t>());
        break;
      }
      case 24: {
        // Screenshots and saves into a scratch folder, loaded back.
        static const std::string folder = [] {
          char pattern[] = "/tmp/fuzz-api-XXXXXX";
          return std::string(mkdtemp(pattern) ? pattern : "/tmp");
        }();
        const std::string path = folder + (in.take<uint8_t>() & 1 ? "/shot.bmp" : "/shot.png");
        // Small screens only: a file written and flushed per step would
        // otherwise take most of the fuzzer's time.
        const pellucet::ScreenInfo info = pellucet::screenInfo();
        if (info.width * info.height > 96 * 96) break;
        if (pellucet::saveScreenshot(path.c_str())) {
          const pellucet::Image back = pellucet::loadImage(path.c_str());
          if (!back || back.width() != pellucet::screenInfo().width) broken("a screenshot that does not load back");
        } else if (std::strcmp(pellucet::lastFailure(), "") == 0) {
          broken("a failed screenshot gives no reason");
        }
        std::remove(path.c_str());
        break;
      }
      default: {
        pellucet::seedRandom(in.take<double>(), static_cast<pellucet::RandomAlgorithm>(1 + in.take<uint8_t>() % 4));
        const double v = pellucet::nextRandom();
        if (!(v >= 0.0 && v < 1.0)) broken("a random value outside [0, 1)");
        const int low = in.take<int32_t>(), high = in.take<int32_t>();
        const int r = pellucet::randomBetween(low, high);
        if (high > low && (r < low || r > high)) broken("randomBetween outside its range");
        break;
      }
    }
    checkScreen();
  }
  pellucet::closeScreen();
  return 0;
}
