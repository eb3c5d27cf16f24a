// Image files at 1920 x 1080 against SDL_image: loading a PNG and a JPEG from
// memory, and saving a PNG to a file, each group's baseline being SDL_image
// doing the same. Ratios are speeds relative to SDL_image (above 1: faster).
// The picture is made here (gradients, noise and shapes, so it compresses as
// a real one does), and the input files are written once at start-up: the
// PNG by SDL_image (libpng's defaults), the JPEG at quality 90 by libjpeg.
// Saves go to a temporary folder ($TMPDIR, else /tmp; where /tmp is tmpfs,
// point TMPDIR at a disk) and, to show what the file system's part is, to one
// in /dev/shm (no disk behind it, so fsync costs nothing there). Run with
// --benchmark_repetitions=9 --benchmark_enable_random_interleaving=true:
// saves wait on the disk, which other programs share.
#include <benchmark/benchmark.h>
#include <pellucet/pellucet.h>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <SDL2/SDL.h>
#include <SDL2/SDL_image.h>

#if defined(PEL_HAVE_LIBJPEG)
#include <jpeglib.h>
#endif

namespace {

constexpr int width = 1920, height = 1080;

uint8_t clamp8(float v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v + 0.5f); }

// Smooth noise in [0, 1): lattice values every `cell` pixels, blended
// bilinearly, as grass or gravel looks from afar.
float valueNoise(int x, int y, int cell) {
  const auto lattice = [](int i, int j) {
    uint32_t h = static_cast<uint32_t>(i) * 374761393u + static_cast<uint32_t>(j) * 668265263u;
    h = (h ^ (h >> 13)) * 1274126177u;
    return static_cast<float>((h ^ (h >> 16)) & 0xFFFF) / 65536.0f;
  };
  const int i = x / cell, j = y / cell;
  const float u = static_cast<float>(x % cell) / cell, v = static_cast<float>(y % cell) / cell;
  const float top = lattice(i, j) + (lattice(i + 1, j) - lattice(i, j)) * u;
  const float bottom = lattice(i, j + 1) + (lattice(i + 1, j + 1) - lattice(i, j + 1)) * u;
  return top + (bottom - top) * v;
}

// Opaque 0xAARRGGBB: a sky-like gradient with a soft light above textured
// ground, discs shaded towards their rims with smoothed edges, flat panels,
// and a little noise over everything, as a camera or a renderer's dithering
// leaves.
void paint(pellucet::Image& picture) {
  std::mt19937 random(7);
  struct Disc {
    float x, y, radius, r, g, b;
  };
  std::vector<Disc> discs;
  for (int i = 0; i < 40; ++i) {
    discs.push_back({static_cast<float>(random() % width), static_cast<float>(random() % height),
                     20.0f + static_cast<float>(random() % 140), static_cast<float>(random() % 256),
                     static_cast<float>(random() % 256), static_cast<float>(random() % 256)});
  }
  struct Panel {
    int x, y, w, h;
    uint8_t r, g, b;
  };
  std::vector<Panel> panels;
  for (int i = 0; i < 12; ++i) {
    panels.push_back({static_cast<int>(random() % width), static_cast<int>(random() % height),
                      40 + static_cast<int>(random() % 300), 20 + static_cast<int>(random() % 120),
                      static_cast<uint8_t>(random()), static_cast<uint8_t>(random()), static_cast<uint8_t>(random())});
  }
  std::uniform_int_distribution<int> noise(-2, 2);
  for (int y = 0; y < height; ++y) {
    auto* row = reinterpret_cast<uint32_t*>(picture.pixels() + static_cast<std::ptrdiff_t>(y) * picture.pitch());
    for (int x = 0; x < width; ++x) {
      const float fx = static_cast<float>(x) / width, fy = static_cast<float>(y) / height;
      const float dx = fx - 0.7f, dy = fy - 0.25f;
      const float light = 90.0f * std::exp(-(dx * dx + dy * dy) * 8.0f);
      float r = 30 + 120 * fx + light, g = 70 + 90 * fy + light, b = 200 - 110 * (fx + fy) / 2 + light * 0.5f;
      if (fy > 0.68f) {
        const float t = 0.4f * valueNoise(x, y, 2) + 0.3f * valueNoise(x, y, 7) + 0.3f * valueNoise(x, y, 41);
        r = 60 + 90 * t, g = 80 + 100 * t, b = 30 + 50 * t;
      }
      for (const Disc& d : discs) {
        const float ex = x - d.x, ey = y - d.y;
        const float distance = std::sqrt(ex * ex + ey * ey);
        const float cover = std::fmin(1.0f, std::fmax(0.0f, d.radius - distance + 0.5f));
        if (cover <= 0) continue;
        const float shade = 1.0f - 0.5f * distance / d.radius;
        r += (d.r * shade - r) * cover;
        g += (d.g * shade - g) * cover;
        b += (d.b * shade - b) * cover;
      }
      bool flat = false;
      for (const Panel& p : panels) {
        if (x >= p.x && x < p.x + p.w && y >= p.y && y < p.y + p.h) r = p.r, g = p.g, b = p.b, flat = true;
      }
      if (!flat) {
        const int grain = fy > 0.68f ? 3 : 1;  // rougher on the ground
        r += grain * noise(random), g += grain * noise(random), b += grain * noise(random);
      }
      row[x] = 0xFF000000u | uint32_t{clamp8(r)} << 16 | uint32_t{clamp8(g)} << 8 | clamp8(b);
    }
  }
}

bool readWhole(const std::string& path, std::vector<uint8_t>& bytes) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return false;
  bytes.clear();
  uint8_t chunk[65536];
  for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, file)) > 0;) bytes.insert(bytes.end(), chunk, chunk + n);
  std::fclose(file);
  return !bytes.empty();
}

long sizeOf(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 ? static_cast<long>(info.st_size) : -1;
}

#if defined(PEL_HAVE_LIBJPEG)
// libjpeg's defaults (4:2:0, the integer DCT), as most JPEGs are written.
std::vector<uint8_t> jpegOf(const pellucet::Image& picture) {
  jpeg_compress_struct c{};
  jpeg_error_mgr errors{};
  c.err = jpeg_std_error(&errors);
  jpeg_create_compress(&c);
  unsigned char* out = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&c, &out, &size);
  c.image_width = width;
  c.image_height = height;
  c.input_components = 3;
  c.in_color_space = JCS_RGB;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, 90, TRUE);
  jpeg_start_compress(&c, TRUE);
  std::vector<uint8_t> rgb(width * 3);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const uint32_t p = picture.pixel(x, y);
      rgb[3 * x] = static_cast<uint8_t>(p >> 16), rgb[3 * x + 1] = static_cast<uint8_t>(p >> 8);
      rgb[3 * x + 2] = static_cast<uint8_t>(p);
    }
    JSAMPROW row = rgb.data();
    jpeg_write_scanlines(&c, &row, 1);
  }
  jpeg_finish_compress(&c);
  jpeg_destroy_compress(&c);
  std::vector<uint8_t> file(out, out + size);
  std::free(out);
  return file;
}
#endif

std::string makeFolder(const char* parent) {
  std::string pattern = std::string(parent) + "/pellucet-bench-XXXXXX";
  return mkdtemp(pattern.data()) ? pattern : std::string();
}

void removeFolder(const std::string& folder) {
  if (folder.empty()) return;
  if (DIR* d = opendir(folder.c_str())) {
    while (dirent* e = readdir(d)) {
      if (std::strcmp(e->d_name, ".") && std::strcmp(e->d_name, "..")) unlink((folder + "/" + e->d_name).c_str());
    }
    closedir(d);
  }
  rmdir(folder.c_str());
}

struct Inputs {
  pellucet::Image picture{width, height, 32};
  SDL_Surface* surface = nullptr;  // the picture's pixels, as SDL's XRGB8888
  std::vector<uint8_t> png, jpeg;
  std::string disk, shm;  // temporary folders
  std::string jpegProblem = "no JPEG writer in this build";

  Inputs() {
    IMG_Init(IMG_INIT_PNG | IMG_INIT_JPG);
    paint(picture);
    // XRGB8888, not ARGB8888: the picture is opaque, so SDL_image writes
    // 8-bit RGB as pellucet does and both compress the same bytes.
    surface = SDL_CreateRGBSurfaceWithFormatFrom(picture.pixels(), width, height, 32, picture.pitch(),
                                                 SDL_PIXELFORMAT_RGB888);
    const char* tmp = std::getenv("TMPDIR");
    disk = makeFolder(tmp && *tmp ? tmp : "/tmp");
    shm = makeFolder("/dev/shm");
    if (!disk.empty()) {
      const std::string input = disk + "/input.png";
      if (IMG_SavePNG(surface, input.c_str()) != 0 || !readWhole(input, png)) png.clear();
      unlink(input.c_str());
    }
#if defined(PEL_HAVE_LIBJPEG)
    jpeg = jpegOf(picture);
#elif SDL_IMAGE_VERSION_ATLEAST(2, 6, 0)
    if (!disk.empty()) {
      const std::string input = disk + "/input.jpg";
      if (IMG_SaveJPG(surface, input.c_str(), 90) != 0 || !readWhole(input, jpeg)) jpeg.clear();
      if (jpeg.empty()) jpegProblem = std::string("IMG_SaveJPG: ") + IMG_GetError();
      unlink(input.c_str());
    }
#endif
    std::printf("picture %d x %d: PNG %zu bytes, JPEG %zu bytes (raw RGB %d)\n", width, height, png.size(),
                jpeg.size(), width * height * 3);
  }
  ~Inputs() {
    SDL_FreeSurface(surface);
    removeFolder(disk);
    removeFolder(shm);
    IMG_Quit();
  }
};

Inputs& inputs() {
  static Inputs i;
  return i;
}

bool samePixels(const uint8_t* a, int aPitch, const uint8_t* b, int bPitch) {
  for (int y = 0; y < height; ++y) {
    if (std::memcmp(a + static_cast<std::ptrdiff_t>(y) * aPitch, b + static_cast<std::ptrdiff_t>(y) * bPitch, width * 4)) {
      return false;
    }
  }
  return true;
}

const std::vector<uint8_t>& fileOf(const Inputs& in, bool jpeg) { return jpeg ? in.jpeg : in.png; }

void pellucetLoad(benchmark::State& state, bool jpeg) {
  const Inputs& in = inputs();
  const std::vector<uint8_t>& file = fileOf(in, jpeg);
  if (file.empty()) return state.SkipWithError(jpeg ? in.jpegProblem.c_str() : "no PNG input");
  pellucet::Image last;
  for (auto _ : state) {
    pellucet::Image image = pellucet::loadImage(file.data(), file.size());
    if (!image) return state.SkipWithError(pellucet::lastFailure());
    benchmark::DoNotOptimize(image.pixels());
    last = std::move(image);
  }
  if (last.width() != width || last.height() != height) return state.SkipWithError("a picture of another size");
  if (!jpeg && !samePixels(last.pixels(), last.pitch(), in.picture.pixels(), in.picture.pitch())) {
    state.SkipWithError("the PNG read back differs");
  }
}

// SDL_image gives an opaque picture as a 24-bit RGB surface; converting it to
// ARGB8888 gives the 32-bit 0xAARRGGBB pixels pellucet's loadImage returns,
// the form a program draws or blits with, so both end at the same pixels.
void sdlLoad(benchmark::State& state, bool jpeg) {
  const Inputs& in = inputs();
  const std::vector<uint8_t>& file = fileOf(in, jpeg);
  if (file.empty()) return state.SkipWithError(jpeg ? in.jpegProblem.c_str() : "no PNG input");
  SDL_Surface* last = nullptr;
  for (auto _ : state) {
    SDL_Surface* loaded = IMG_Load_RW(SDL_RWFromConstMem(file.data(), static_cast<int>(file.size())), 1);
    SDL_Surface* argb = loaded ? SDL_ConvertSurfaceFormat(loaded, SDL_PIXELFORMAT_ARGB8888, 0) : nullptr;
    SDL_FreeSurface(loaded);
    if (!argb) return state.SkipWithError(IMG_GetError());
    benchmark::DoNotOptimize(argb->pixels);
    SDL_FreeSurface(last);
    last = argb;
  }
  if (last->w != width || last->h != height) {
    state.SkipWithError("a picture of another size");
  } else if (!jpeg && !samePixels(static_cast<const uint8_t*>(last->pixels), last->pitch, in.picture.pixels(),
                                  in.picture.pitch())) {
    state.SkipWithError("the PNG read back differs");
  }
  SDL_FreeSurface(last);
}

// The whole save a program asks for; pellucet's includes writing beside the
// target, fsync and the rename, SDL_image's is fopen, fwrite and fclose.
void pellucetSave(benchmark::State& state, bool shm) {
  const Inputs& in = inputs();
  const std::string folder = shm ? in.shm : in.disk;
  if (folder.empty()) return state.SkipWithError("no temporary folder");
  const std::string path = folder + "/pellucet.png";
  for (auto _ : state) {
    if (!pellucet::savePng(in.picture, path.c_str())) return state.SkipWithError(pellucet::lastFailure());
  }
  state.counters["file_bytes"] = static_cast<double>(sizeOf(path));
}

void sdlSave(benchmark::State& state, bool shm) {
  const Inputs& in = inputs();
  const std::string folder = shm ? in.shm : in.disk;
  if (folder.empty()) return state.SkipWithError("no temporary folder");
  const std::string path = folder + "/sdl.png";
  for (auto _ : state) {
    if (IMG_SavePNG(in.surface, path.c_str()) != 0) return state.SkipWithError(IMG_GetError());
  }
  state.counters["file_bytes"] = static_cast<double>(sizeOf(path));
}

void registerAll() {
  benchmark::RegisterBenchmark("load_png/baseline", sdlLoad, false)->UseRealTime()->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("load_png/pellucet", pellucetLoad, false)->UseRealTime()->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("load_jpeg/baseline", sdlLoad, true)->UseRealTime()->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("load_jpeg/pellucet", pellucetLoad, true)->UseRealTime()->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("save_png/baseline", sdlSave, false)->UseRealTime()->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("save_png/pellucet", pellucetSave, false)->UseRealTime()->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("save_png_shm/baseline", sdlSave, true)->UseRealTime()->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("save_png_shm/pellucet", pellucetSave, true)->UseRealTime()->Unit(benchmark::kMillisecond);
}

const bool registered = (registerAll(), true);

}  // namespace
