#include "disc_scene.h"

#include <cmath>
#include <random>

namespace pel::examples {
namespace {

constexpr int glowTexels = 64;
constexpr GLenum bgra = 0x80E1;  // GL_BGRA_EXT

}  // namespace

void DiscScene::start(const GlEntryPoints& gl, int width, int height, uint32_t seed) {
  width_ = width;
  height_ = height;
  gl.glViewport(0, 0, width, height);
  gl.glMatrixMode(GL_PROJECTION);
  gl.glLoadIdentity();
  gl.glOrtho(0, width, height, 0, -1, 1);  // y down, like the framebuffer modes
  gl.glMatrixMode(GL_MODELVIEW);
  gl.glLoadIdentity();

  // The glow from the centre (texel 0) to the rim: bright green fading to
  // black, with a white-hot core.
  uint8_t glow[glowTexels * 4];
  for (int i = 0; i < glowTexels; ++i) {
    const float t = static_cast<float>(i) / (glowTexels - 1);
    const float light = (1.0f - t) * (1.0f - t);
    const float core = light * light * light;
    glow[i * 4 + 0] = static_cast<uint8_t>(std::lround(255.0f * core));           // blue
    glow[i * 4 + 1] = static_cast<uint8_t>(std::lround(255.0f * std::sqrt(light)));  // green
    glow[i * 4 + 2] = static_cast<uint8_t>(std::lround(255.0f * core));           // red
    glow[i * 4 + 3] = 255;
  }
  gl.glGenTextures(1, &texture_);
  gl.glBindTexture(GL_TEXTURE_2D, texture_);
  gl.glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
  gl.glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
  gl.glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP);
  gl.glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP);
  gl.glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
  gl.glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, glowTexels, 1, 0, bgra, GL_UNSIGNED_BYTE, glow);
  gl.glEnable(GL_TEXTURE_2D);
  gl.glDisable(GL_DEPTH_TEST);
  gl.glEnableClientState(GL_VERTEX_ARRAY);
  gl.glEnableClientState(GL_TEXTURE_COORD_ARRAY);

  std::mt19937 random(seed);
  std::uniform_real_distribution<float> unit(0.0f, 1.0f);
  discs_.resize(discCount);
  for (Disc& d : discs_) {
    d.radius = 20.0f + 60.0f * unit(random);
    d.x = d.radius + (static_cast<float>(width) - 2 * d.radius) * unit(random);
    d.y = d.radius + (static_cast<float>(height) - 2 * d.radius) * unit(random);
    const float angle = 6.2831853f * unit(random), speed = 1.0f + 3.0f * unit(random);
    d.dx = speed * std::cos(angle);
    d.dy = speed * std::sin(angle);
  }
  for (int i = 0; i <= segments; ++i) {
    const float a = 6.2831853f * static_cast<float>(i) / segments;
    cosines_[i] = std::cos(a);
    sines_[i] = std::sin(a);
  }
  vertices_.assign(static_cast<std::size_t>(discCount) * segments * 3 * 2, 0.0f);
  // Centre texel, rim texel, rim texel, for every triangle (the middle of
  // each texel, so the rim is the last texel's colour).
  texCoords_.clear();
  for (int i = 0; i < discCount * segments; ++i) {
    const float centre = 0.5f / glowTexels, rim = (glowTexels - 0.5f) / glowTexels;
    texCoords_.insert(texCoords_.end(), {centre, 0.5f, rim, 0.5f, rim, 0.5f});
  }
}

void DiscScene::draw(const GlEntryPoints& gl) {
  float* v = vertices_.data();
  for (Disc& d : discs_) {
    d.x += d.dx;
    d.y += d.dy;
    if (d.x < d.radius || d.x > static_cast<float>(width_) - d.radius) d.dx = -d.dx;
    if (d.y < d.radius || d.y > static_cast<float>(height_) - d.radius) d.dy = -d.dy;
    for (int i = 0; i < segments; ++i) {
      *v++ = d.x;
      *v++ = d.y;
      *v++ = d.x + d.radius * cosines_[i];
      *v++ = d.y + d.radius * sines_[i];
      *v++ = d.x + d.radius * cosines_[i + 1];
      *v++ = d.y + d.radius * sines_[i + 1];
    }
  }
  gl.glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
  gl.glClear(GL_COLOR_BUFFER_BIT);
  gl.glVertexPointer(2, GL_FLOAT, 0, vertices_.data());
  gl.glTexCoordPointer(2, GL_FLOAT, 0, texCoords_.data());
  gl.glDrawArrays(GL_TRIANGLES, 0, discCount * segments * 3);
}

void DiscScene::end(const GlEntryPoints& gl) {
  gl.glDisableClientState(GL_TEXTURE_COORD_ARRAY);
  gl.glDisableClientState(GL_VERTEX_ARRAY);
  gl.glDeleteTextures(1, &texture_);
  texture_ = 0;
}

}  // namespace pel::examples
