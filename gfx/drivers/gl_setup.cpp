#include "gl_setup.h"

#include <algorithm>
#include <cstring>

namespace pel {
namespace {

GlOptions options{};
GlColorMaps colorMaps{};
const GlEntryPoints* current = nullptr;

// The picture's place for the scaled viewport, and the program's viewport in
// page pixels (the whole page until it sets one).
struct GlPlace {
  int32_t pageW = 1, pageH = 1, drawableH = 1, x = 0, y = 0, shownW = 1, shownH = 1;
};
struct GlPicture : GlPlace {
  decltype(&::glViewport) viewport = nullptr;  // the library's own
  decltype(&::glScissor) scissor = nullptr;
  GLint askedX = 0, askedY = 0;
  GLsizei askedW = -1, askedH = -1;
};
GlPicture picture;

// Page pixel edge p on the picture, in drawable pixels: rounded up, so a
// drawable pixel belongs to the page pixel x * size / shown as the
// framebuffer back ends sample.
GLint scaleTo(int64_t p, int32_t shown, int32_t size) {
  const int64_t n = p * shown;
  return static_cast<GLint>(n >= 0 ? (n + size - 1) / size : -(-n / size));
}

// A rectangle in page pixels (GL's bottom-up rows) in drawable pixels.
template <typename Call>
void scaledRectangle(Call call, GLint x, GLint y, GLsizei w, GLsizei h) {
  const GlPicture& p = picture;
  const GLint left = scaleTo(x, p.shownW, p.pageW), right = scaleTo(int64_t{x} + w, p.shownW, p.pageW);
  // Rows are rounded as page rows counted from the top, as the framebuffer
  // back ends count them.
  const GLint top = scaleTo(int64_t{p.pageH} - y - h, p.shownH, p.pageH);
  const GLint bottom = scaleTo(int64_t{p.pageH} - y, p.shownH, p.pageH);
  call(p.x + left, p.drawableH - (p.y + bottom), right - left, bottom - top);
}

void applyViewport() {
  const GlPicture& p = picture;
  if (!p.viewport) return;
  scaledRectangle(p.viewport, p.askedX, p.askedY, p.askedW < 0 ? p.pageW : p.askedW,
                  p.askedH < 0 ? p.pageH : p.askedH);
}

// Scissor boxes are page pixels too; the program's last one follows the
// picture as the viewport does.
GLint scissorX = 0, scissorY = 0;
GLsizei scissorW = -1, scissorH = -1;
void applyScissor() {
  if (picture.scissor && scissorW >= 0) scaledRectangle(picture.scissor, scissorX, scissorY, scissorW, scissorH);
}
void APIENTRY scaledScissor(GLint x, GLint y, GLsizei width, GLsizei height) {
  scissorX = x;
  scissorY = y;
  scissorW = width < 0 ? 0 : width;
  scissorH = height < 0 ? 0 : height;
  applyScissor();
}

void APIENTRY scaledViewport(GLint x, GLint y, GLsizei width, GLsizei height) {
  picture.askedX = x;
  picture.askedY = y;
  picture.askedW = width < 0 ? 0 : width;
  picture.askedH = height < 0 ? 0 : height;
  applyViewport();
}

// Channel sizes by bytes a pixel less one: none, 5-5-5, 8-8-8, 8-8-8-8.
constexpr int32_t channelBits[4] = {0, 5, 8, 8};
constexpr int32_t alphaChannelBits[4] = {0, 0, 0, 8};

int32_t sizeIndex(int32_t bits) { return std::min((bits + 7) / 8 - 1, 3); }

void fillIfZero(int32_t& field, int32_t value) {
  if (field == 0) field = value;
}

}  // namespace

GlOptions& glOptions() { return options; }

void fillGlDefaults(GlOptions& o, int32_t depth, int32_t modeFlags) {
  fillIfZero(o.colorBits, o.redBits + o.greenBits + o.blueBits + o.alphaBits);
  fillIfZero(o.colorBits, depth);
  const int32_t c = std::max(sizeIndex(o.colorBits), 0);
  fillIfZero(o.redBits, channelBits[c]);
  fillIfZero(o.greenBits, channelBits[c]);
  fillIfZero(o.blueBits, channelBits[c]);
  fillIfZero(o.alphaBits, alphaChannelBits[c]);

  fillIfZero(o.accumBits, o.accumRedBits + o.accumGreenBits + o.accumBlueBits + o.accumAlphaBits);
  int32_t a = sizeIndex(o.accumBits);
  if (a < 0 && (modeFlags & glflag::accumulation)) {
    o.accumBits = 32;
    a = 3;
  }
  if (a >= 0) {
    fillIfZero(o.accumRedBits, channelBits[a]);
    fillIfZero(o.accumGreenBits, channelBits[a]);
    fillIfZero(o.accumBlueBits, channelBits[a]);
    fillIfZero(o.accumAlphaBits, alphaChannelBits[a]);
  }

  fillIfZero(o.depthBits, 16);
  if (modeFlags & glflag::stencil) fillIfZero(o.stencilBits, 8);
  if (modeFlags & glflag::multisample) fillIfZero(o.samples, 4);
}

// A space between the two: a GL string without a trailing space would
// otherwise run its last name into the first platform name.
void buildExtensionText(char (&text)[extensionTextSize], const char* gl, const char* platform) {
  std::size_t length = 0;
  auto append = [&](const char* part) {
    const std::size_t n = std::min(std::strlen(part), extensionTextSize - 1 - length);
    std::memcpy(text + length, part, n);
    length += n;
  };
  if (gl) append(gl);
  if (platform && *platform) {
    if (length > 0) append(" ");
    append(platform);
  }
  text[length] = '\0';
}

bool extensionOffered(const char* text, const char* name) {
  const std::size_t n = std::strlen(name);
  if (!text || n == 0) return false;
  for (const char* at = std::strstr(text, name); at; at = std::strstr(at + n, name)) {
    // Only at the start of a name, too: "XGL_EXT_bgra" is not "GL_EXT_bgra".
    const bool starts = at == text || at[-1] == ' ';
    if (starts && (at[n] == ' ' || at[n] == '\0')) return true;
  }
  return false;
}

FormatAttributes formatAttributes(const FormatAttributeNames& names, const GlOptions& o) {
  FormatAttributes a;
  auto add = [&](int32_t name, int32_t value) {
    if (name == 0) return;
    a.list.push_back(name);
    a.list.push_back(value);
  };
  add(names.drawToWindow, names.drawToWindowValue);
  add(names.acceleration, names.accelerationValue);
  add(names.doubleBuffer, 1);
  add(names.colorBits, o.colorBits);
  add(names.redBits, o.redBits);
  add(names.greenBits, o.greenBits);
  add(names.blueBits, o.blueBits);
  add(names.alphaBits, o.alphaBits);
  add(names.depthBits, o.depthBits);
  const int32_t optional[][2] = {{names.accumBits, o.accumBits},           {names.accumRedBits, o.accumRedBits},
                                 {names.accumGreenBits, o.accumGreenBits}, {names.accumBlueBits, o.accumBlueBits},
                                 {names.accumAlphaBits, o.accumAlphaBits}, {names.stencilBits, o.stencilBits}};
  for (const auto& [name, value] : optional) {
    if (value != 0) add(name, value);
  }
  // Without a samples attribute there is nothing to lower.
  if (o.samples != 0 && names.samples != 0) {
    add(names.sampleBuffers, 1);
    add(names.samples, o.samples);
    a.samplesAt = a.list.size() - 1;
  }
  a.list.push_back(0);
  return a;
}

std::optional<int32_t> chooseLoweringSamples(FormatAttributes& a,
                                             const std::function<std::optional<int32_t>(const int32_t*)>& choose) {
  while (true) {
    if (auto format = choose(a.list.data())) return format;
    if (!a.samplesAt) return std::nullopt;
    a.list[a.samplesAt] -= 2;
    if (a.list[a.samplesAt] < 0) return std::nullopt;
  }
}

bool loadGlEntryPoints(GlEntryPoints& gl, const std::function<void*(const char*)>& lookup) {
  bool all = true;
#define PEL_GL_FIND(name)                                                                   \
  gl.name = reinterpret_cast<decltype(gl.name)>(reinterpret_cast<void (*)()>(lookup(#name))); \
  all = all && gl.name != nullptr;
  PEL_GL_ENTRIES(PEL_GL_FIND)
#undef PEL_GL_FIND
  return all;
}

const GlEntryPoints* glEntryPoints() { return current; }
void setGlEntryPoints(const GlEntryPoints* gl) { current = gl; }

void publishGlEntryPoints(GlEntryPoints& gl, bool scaled) {
  if (scaled && gl.glViewport != scaledViewport) {
    picture.viewport = gl.glViewport;
    picture.scissor = gl.glScissor;
    gl.glViewport = scaledViewport;
    gl.glScissor = scaledScissor;
  }
  if (!scaled) picture = GlPicture{};
  picture.askedW = picture.askedH = -1;
  scissorW = scissorH = -1;
  current = &gl;
}

void placeGlPicture(int32_t pageW, int32_t pageH, int32_t drawableH, int32_t x, int32_t y, int32_t shownW,
                    int32_t shownH) {
  if (pageW < 1 || pageH < 1 || shownW < 1 || shownH < 1) return;
  static_cast<GlPlace&>(picture) = {pageW, pageH, drawableH, x, y, shownW, shownH};
  applyViewport();
  applyScissor();
}

void clearGlBars(int32_t drawableW, int32_t drawableH) {
  const GlPicture& p = picture;
  const GlEntryPoints* gl = current;
  if (!gl || !p.scissor || (p.x == 0 && p.y == 0 && p.shownW >= drawableW && p.shownH >= drawableH)) return;
  gl->glPushAttrib(GL_SCISSOR_BIT | GL_COLOR_BUFFER_BIT);
  gl->glEnable(GL_SCISSOR_TEST);
  gl->glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
  const GLint base = drawableH - (p.y + p.shownH);
  const GLint bars[4][4] = {{0, 0, p.x, drawableH},
                            {p.x + p.shownW, 0, drawableW - (p.x + p.shownW), drawableH},
                            {p.x, 0, p.shownW, base},
                            {p.x, base + p.shownH, p.shownW, drawableH - (base + p.shownH)}};
  for (const auto& b : bars) {
    if (b[2] <= 0 || b[3] <= 0) continue;
    p.scissor(b[0], b[1], b[2], b[3]);
    gl->glClear(GL_COLOR_BUFFER_BIT);
  }
  gl->glPopAttrib();
}

const GlColorMaps& glColorMaps() { return colorMaps; }

void setGlPalette(int32_t index, int32_t red, int32_t green, int32_t blue) {
  if (index < 0 || index > 255) return;
  colorMaps.red[index] = static_cast<float>(red) / 256.0f;
  colorMaps.green[index] = static_cast<float>(green) / 256.0f;
  colorMaps.blue[index] = static_cast<float>(blue) / 256.0f;
}

}  // namespace pel
