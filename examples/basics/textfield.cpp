// A text field: type a line in any script, move the caret with Left, Right,
// Home and End, take characters back with Backspace and Delete; Enter prints
// the line as UTF-8 and starts a new one. Escape or the close box ends.
//   textfield [font file] [seconds]   (no font: a system one, else built in)
#include <pellucet/pellucet.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// UTF-8 of one code point.
std::string utf8Of(char32_t c) {
  std::string s;
  if (c < 0x80) {
    s += static_cast<char>(c);
  } else if (c < 0x800) {
    s += static_cast<char>(0xC0 | c >> 6);
    s += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    s += static_cast<char>(0xE0 | c >> 12);
    s += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    s += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    s += static_cast<char>(0xF0 | c >> 18);
    s += static_cast<char>(0x80 | (c >> 12 & 0x3F));
    s += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    s += static_cast<char>(0x80 | (c & 0x3F));
  }
  return s;
}

std::string utf8Of(const std::u32string& text) {
  std::string s;
  for (const char32_t c : text) s += utf8Of(c);
  return s;
}

// The code points of the UTF-8 a TextInput event carries (it is well formed).
std::u32string codePoints(const char* utf8) {
  std::u32string out;
  for (const auto* p = reinterpret_cast<const unsigned char*>(utf8); *p;) {
    const int length = *p < 0x80 ? 1 : *p >= 0xF0 ? 4 : *p >= 0xE0 ? 3 : 2;
    char32_t c = length == 1 ? *p : *p & (0x7F >> length);
    for (int i = 1; i < length && p[i]; ++i) c = c << 6 | (p[i] & 0x3F);
    out += c;
    for (int i = 0; i < length && *p; ++i) ++p;
  }
  return out;
}

pellucet::LoadedFont chooseFont(const char* path) {
  if (path) {
    pellucet::LoadedFont font = pellucet::loadFont(path, 24);
    if (!font) std::fprintf(stderr, "textfield: %s; the built-in font stands in\n", pellucet::lastFailure());
    return font;
  }
  // Fonts most systems have (Wine's own among Windows').
  for (const char* candidate : {"/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", "C:/Windows/Fonts/segoeui.ttf",
                                "C:/Windows/Fonts/arial.ttf", "C:/windows/Fonts/tahoma.ttf"}) {
    if (pellucet::LoadedFont font = pellucet::loadFont(candidate, 24)) return font;
  }
  return {};
}

}  // namespace

int main(int argc, char** argv) {
  const char* fontPath = nullptr;
  double limit = 0;
  for (int i = 1; i < argc; ++i) {
    char* end = nullptr;
    const double number = std::strtod(argv[i], &end);
    if (end != argv[i] && *end == 0) {
      limit = number;
    } else {
      fontPath = argv[i];
    }
  }
  if (!pellucet::openScreen(640, 120, 32, 1)) {
    std::fprintf(stderr, "textfield: %s\n", pellucet::lastFailure());
    return 1;
  }
  pellucet::setTitle("Text field");
  const pellucet::LoadedFont font = chooseFont(fontPath);
  pellucet::textFont(font);
  const int lineHeight = font ? font.height() : pellucet::measureText("x").height;

  std::u32string line;
  std::size_t caret = 0;
  const auto draw = [&] {
    pellucet::clear(0xFF202830);
    pellucet::textFont(pellucet::Font::font8x16);
    pellucet::text(10, 8, "Type a line; Enter prints it, Escape ends", 0xFF90A0B0);
    pellucet::textFont(font);
    pellucet::fillBox(8, 40, 631, 40 + lineHeight + 7, 0xFF101418);
    pellucet::text(12, 44, utf8Of(line), 0xFFFFFFFF);
    const int x = 12 + pellucet::measureText(utf8Of(line.substr(0, caret))).width;
    pellucet::line(static_cast<float>(x), 43, static_cast<float>(x), static_cast<float>(44 + lineHeight), 0xFF60E060);
    pellucet::flip();
  };
  draw();

  const double start = pellucet::seconds();
  pellucet::Event e;
  while (limit <= 0 || pellucet::seconds() - start < limit) {
    if (!pellucet::waitEvent(e, 50)) continue;
    if (e.type == pellucet::EventType::Close) return 0;
    if (e.type == pellucet::EventType::TextInput) {
      const std::u32string typed = codePoints(e.text);
      line.insert(caret, typed);
      caret += typed.size();
    } else if (e.type == pellucet::EventType::KeyPress || e.type == pellucet::EventType::KeyRepeat) {
      namespace scan = pellucet::scan;
      // The keypad's digits share their scan codes with Home, End and the
      // arrows: what typed a character is text, not a move.
      if (e.character >= 0x20) continue;
      switch (e.scanCode) {
        case scan::escape: return 0;
        case scan::backspace:
          if (caret > 0) line.erase(--caret, 1);
          break;
        case scan::deleteKey:
          if (caret < line.size()) line.erase(caret, 1);
          break;
        case scan::left: caret -= caret > 0; break;
        case scan::right: caret += caret < line.size(); break;
        case scan::home: caret = 0; break;
        case scan::end: caret = line.size(); break;
        case scan::enter:  // and the keypad's
          std::printf("%s\n", utf8Of(line).c_str());
          std::fflush(stdout);
          line.clear();
          caret = 0;
          break;
        default: continue;
      }
    } else {
      continue;
    }
    draw();
  }
  return 0;
}
