// Glowing discs drawn with OpenGL in an OpenGL mode of the runtime: the
// runtime opens the window and its context, hands out the OpenGL entry
// points, and presents each frame at the page flip, where the window's keys
// are read too. Any key or the close button ends it.
#include <cstdio>

#include "disc_scene.h"
#include "gfx/drivers/gl_setup.h"
#include "gfx/input.h"
#include "gfx/mode.h"
#include "gfx/pages.h"
#include "runtime/clock.h"
#include "runtime/runtime.h"

int main(int argc, char** argv) {
  using namespace pel;
  runtimeInit(argc, argv, 0);
  constexpr int width = 800, height = 600;
  if (openScreenBySize(width, height, 32, 1, modeflag::openGl, 0) != 0) {
    std::fputs("opengl-discs: no OpenGL display could be opened for an 800 x 600 window\n", stderr);
    runtimeEnd(1);
  }
  setTitle("Pellucet OpenGL discs");
  const GlEntryPoints& gl = *glEntryPoints();
  examples::DiscScene scene;
  scene.start(gl, width, height);
  const double started = timerSeconds();
  long frames = 0;
  do {
    scene.draw(gl);
    copyPage(-1, -1);  // the flip: presents the frame and handles the window's messages
    ++frames;
  } while (takeKey() == 0);
  const double seconds = timerSeconds() - started;
  if (seconds > 0) std::printf("%ld frames, %.1f frames a second\n", frames, static_cast<double>(frames) / seconds);
  scene.end(gl);
  runtimeEnd(0);
}
