// Fifty glowing green discs drifting and bouncing, drawn with the OpenGL 1.1
// entry points the runtime hands out: one triangle list a frame, textured
// with a radial glow (uploaded as BGRA, which every OpenGL mode offers).
#pragma once

#include <cstdint>
#include <vector>

#include "gfx/drivers/gl_setup.h"

namespace pel::examples {

class DiscScene {
 public:
  // The projection, the glow texture and the discs; the context must be
  // current. The same seed gives the same discs.
  void start(const GlEntryPoints& gl, int width, int height, uint32_t seed = 1);
  // One step of movement and one frame drawn (the swap is the caller's).
  void draw(const GlEntryPoints& gl);
  void end(const GlEntryPoints& gl);

  static constexpr int discCount = 50;
  static constexpr int segments = 32;  // triangles a disc

 private:
  struct Disc {
    float x, y, dx, dy, radius;
  };
  int width_ = 0, height_ = 0;
  GLuint texture_ = 0;
  std::vector<Disc> discs_;
  std::vector<float> vertices_, texCoords_;
  float cosines_[segments + 1] = {}, sines_[segments + 1] = {};
};

}  // namespace pel::examples
