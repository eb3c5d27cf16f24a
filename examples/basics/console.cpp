// The text console on a graphics screen: coloured lines, a position, and a
// line read from the keyboard.
//   console [seconds]   (with seconds: shows the text that long and asks nothing)
#include <pellucet/pellucet.h>

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
  const double limit = argc > 1 ? std::atof(argv[1]) : 0.0;
  if (!pellucet::openScreen(640, 400, 32, 1)) {
    std::fprintf(stderr, "console: %s\n", pellucet::lastFailure());
    return 1;
  }
  pellucet::textColour(0xFFFFD040, 0xFF000040);
  pellucet::print(" Pellucet console \n\n");
  pellucet::textColour(0xFFC0C0C0, 0xFF000000);
  for (int i = 1; i <= 5; ++i) pellucet::print("line " + std::to_string(i) + (i % 2 ? "\t(odd)\n" : "\n"));
  pellucet::locate(20, 10);
  pellucet::print("row 20, column 10");
  pellucet::locate(10, 1);
  if (limit > 0) {
    pellucet::sleepMs(static_cast<int>(limit * 1000));
    return 0;
  }
  pellucet::print("Your name? ");
  char buffer[64];
  const std::string_view name = pellucet::readLine(buffer, sizeof buffer);
  pellucet::print("\nHello, " + std::string(name) + ". Any key ends.");
  pellucet::waitKey();
  return 0;
}
