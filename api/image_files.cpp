// Images from and to files: the format told by the file's first bytes, read
// whole into memory (bounded, regular files only); saved through a temporary
// file in the target's folder renamed over it, so a failed save leaves what
// was there untouched.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#if defined(_WIN32)
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "api/image_codecs.h"
#include "api/internal.h"
#include "gfx/fonts.h"
#include "gfx/mode.h"

namespace pellucet {
namespace codec {

bool sizeAllowed(int64_t width, int64_t height, std::string& reason) {
  if (width >= 1 && height >= 1 && width <= largestSide && height <= largestSide && width * height <= largestPixels) {
    return true;
  }
  reason = "a size of " + std::to_string(width) + " x " + std::to_string(height) +
           " (an image is 1 to 32767 pixels a side and at most 16384 x 16384 pixels in all)";
  return false;
}

PngGamma pngGamma(uint32_t fileGamma, bool sRgbChunk) {
  if (sRgbChunk || fileGamma == 0) return {};
  const double product = fileGamma / 100000.0 * 2.2;
  if (product > 0.95 && product < 1.05) return {};
  return {1 / product, std::floor(1e15 / fileGamma / 220000 + 0.5) / 100000};
}

std::vector<uint8_t> gammaTable(std::size_t levels, double exponent) {
  std::vector<uint8_t> shown(levels);
  for (std::size_t v = 0; v < levels; ++v) {
    shown[v] = static_cast<uint8_t>(std::floor(255 * std::pow(static_cast<double>(v) / (levels - 1), exponent) + 0.5));
  }
  return shown;
}

Image failed(std::string reason) {
  setPublicFailure(std::move(reason));
  return {};
}

}  // namespace codec

namespace {

using codec::failed;

// The largest file read: a 32-bit BMP of the most pixels an image may have,
// with room for its headers.
constexpr int64_t largestFile = codec::largestPixels * 4 + (int64_t{1} << 20);

std::string systemReason() { return std::strerror(errno); }

// ---- Reading ---------------------------------------------------------------

// Opens a file to read, refusing at once what is no regular file (a FIFO
// would wait for a writer, a device read on without end).
FILE* openToRead(const char* path) {
#if defined(_WIN32)
  return std::fopen(path, "rb");
#else
  const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat info {};
  if (fstat(fd, &info) == 0 && !S_ISREG(info.st_mode)) {
    close(fd);
    errno = ENODEV;
    return nullptr;
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  FILE* file = fdopen(fd, "rb");
  if (!file) close(fd);
  return file;
#endif
}

}  // namespace

bool readFile(const char* path, std::vector<uint8_t>& bytes, int64_t largest, const char* kind) {
  FILE* file = openToRead(path);
  if (!file && errno == ENODEV) return failed(std::string(path) + " is not a regular file"), false;
  if (!file) return failed(std::string("cannot open ") + path + ": " + systemReason()), false;
  struct stat info {};
  if (fstat(fileno(file), &info) != 0 || (info.st_mode & S_IFMT) != S_IFREG) {
    std::fclose(file);
    return failed(std::string(path) + " is not a regular file"), false;
  }
  if (info.st_size > largest) {
    std::fclose(file);
    return failed(std::string(path) + " is larger than any " + kind + " read (" + std::to_string(largest) + " bytes)"),
           false;
  }
  bytes.resize(static_cast<std::size_t>(info.st_size));
  const std::size_t got = std::fread(bytes.data(), 1, bytes.size(), file);
  const bool ok = got == bytes.size() && !std::ferror(file);
  const std::string reason = std::ferror(file) ? systemReason() : "it changed while being read";
  std::fclose(file);
  if (!ok) return failed(std::string("cannot read ") + path + ": " + reason), false;
  return true;
}

namespace {

// ---- Pixels to save ----------------------------------------------------------

// An 8-bit image's colours: the screen's palette, or the default 256-colour
// one with no screen open. 0x00BBGGRR entries, as the mode keeps them.
void paletteForSaving(uint32_t out[256]) {
  if (const pel::ScreenMode* m = pel::currentMode()) {
    std::memcpy(out, m->palette, 256 * sizeof(uint32_t));
    return;
  }
  const pel::PaletteRecord* p = pel::unpackBuiltinData() ? pel::builtinPalette(3) : nullptr;
  for (int i = 0; i < 256; ++i) {
    const uint8_t* t = p ? p->triples + 3 * i : nullptr;
    out[i] = t ? static_cast<uint32_t>(t[2]) << 16 | static_cast<uint32_t>(t[1]) << 8 | t[0] : 0;
  }
}

// Whether every pixel of a 32-bit image is opaque: the file then needs no
// alpha.
bool allOpaque(const Image& image) {
  for (int y = 0; y < image.height(); ++y) {
    const uint8_t* row = image.pixels() + static_cast<std::ptrdiff_t>(y) * image.pitch();
    uint32_t all = 0xFFFFFFFFu;
    for (int x = 0; x < image.width(); ++x) {
      uint32_t v;
      std::memcpy(&v, row + 4 * x, 4);
      all &= v;
    }
    if (all >> 24 != 0xFF) return false;
  }
  return true;
}

// An 8- or 16-bit image as 32-bit 0xAARRGGBB: indices through the palette,
// RGB565 widened by repeating each channel's top bits (31 becomes 255).
Image argbOf(const Image& image) {
  uint32_t palette[256];
  if (image.bytesPerPixel() == 1) paletteForSaving(palette);
  Image argb(image.width(), image.height(), 32);
  if (!argb) return argb;
  for (int y = 0; y < image.height(); ++y) {
    auto* out = reinterpret_cast<uint32_t*>(argb.pixels() + static_cast<std::ptrdiff_t>(y) * argb.pitch());
    for (int x = 0; x < image.width(); ++x) {
      const uint32_t v = image.pixel(x, y);
      out[x] = image.bytesPerPixel() == 1 ? argbOfPaletteEntry(palette[v & 0xFF]) : argbOf565Replicated(v);
    }
  }
  return argb;
}

// ---- Writing ---------------------------------------------------------------

#if defined(_WIN32)

// Windows: the new file beside the target, then MoveFileEx over it.
bool replaceFile(const char* path, const std::vector<uint8_t>& bytes) {
  const DWORD attributes = GetFileAttributesA(path);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return failed(std::string(path) + " is a folder, not a file"), false;
  }
  // Device names (NUL, CON, COM1 ...) open as something other than a disk file.
  HANDLE probe = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
  if (probe != INVALID_HANDLE_VALUE) {
    const DWORD type = GetFileType(probe);
    CloseHandle(probe);
    if (type != FILE_TYPE_DISK) return failed(std::string(path) + " is not a regular file"), false;
  }
  std::string temporary;
  HANDLE file = INVALID_HANDLE_VALUE;
  for (int attempt = 0; attempt < 100 && file == INVALID_HANDLE_VALUE; ++attempt) {
    temporary = std::string(path) + "." + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(attempt) + ".tmp";
    file = CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) break;
  }
  if (file == INVALID_HANDLE_VALUE) {
    return failed(std::string("cannot create a file beside ") + path + " (Windows error " +
                  std::to_string(GetLastError()) + ")"), false;
  }
  std::size_t done = 0;
  bool ok = true;
  while (ok && done < bytes.size()) {
    DWORD wrote = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 30));
    ok = WriteFile(file, bytes.data() + done, chunk, &wrote, nullptr) && wrote == chunk;
    done += wrote;
  }
  ok = ok && FlushFileBuffers(file);
  const DWORD error = ok ? 0 : GetLastError();
  CloseHandle(file);
  if (ok && MoveFileExA(temporary.c_str(), path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
  const DWORD moveError = ok ? GetLastError() : error;
  DeleteFileA(temporary.c_str());
  return failed(std::string("cannot write ") + path + " (Windows error " + std::to_string(moveError) +
                "); the file there is unchanged"), false;
}

#else

// POSIX: the new file beside the target (a link is followed to its file),
// written, flushed to the disk, given the old file's permissions, then
// renamed over it.
bool replaceFile(const char* path, const std::vector<uint8_t>& bytes) {
  std::string target = path;
  struct stat info {};
  bool exists = lstat(path, &info) == 0;
  if (exists && S_ISLNK(info.st_mode)) {
    char* real = realpath(path, nullptr);
    if (!real) return failed(std::string("cannot follow the link ") + path + ": " + systemReason()), false;
    target = real;
    std::free(real);
    exists = stat(target.c_str(), &info) == 0;
  }
  if (exists && !S_ISREG(info.st_mode)) {
    return failed(std::string(path) + (S_ISDIR(info.st_mode) ? " is a folder, not a file" : " is not a regular file")),
           false;
  }
  std::string temporary;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temporary = target + "." + std::to_string(getpid()) + "-" + std::to_string(attempt) + ".tmp";
    fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, exists ? 0600 : 0666);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) return failed(std::string("cannot create a file beside ") + path + ": " + systemReason()), false;
  bool ok = true;
  std::size_t done = 0;
  while (ok && done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (n > 0) done += static_cast<std::size_t>(n);
    if (n == 0) errno = ENOSPC;
  }
  if (ok && exists) {
    // The old file's owner and permissions; an owner that cannot be given
    // (not root) leaves the writer's.
    [[maybe_unused]] const int owned = fchown(fd, info.st_uid, info.st_gid);
    ok = fchmod(fd, info.st_mode & 07777) == 0;
  }
  ok = ok && fsync(fd) == 0;
  const std::string reason = ok ? "" : systemReason();
  ok = close(fd) == 0 && ok;
  if (ok && rename(temporary.c_str(), target.c_str()) == 0) return true;
  const std::string why = reason.empty() ? systemReason() : reason;
  unlink(temporary.c_str());
  return failed(std::string("cannot write ") + path + ": " + why + "; the file there is unchanged"), false;
}

#endif

// The extension, lower case, with its dot ("" for none).
std::string extensionOf(const char* path) {
  const char* dot = std::strrchr(path, '.');
  const char* slash = std::strrchr(path, '/');
  if (!dot || (slash && slash > dot)) return "";
  std::string e = dot;
  for (char& c : e) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return e;
}

enum class Format { png, bmp };

bool save(const Image& image, const char* path, Format format) {
  if (!path) return failed("no path given to save to"), false;
  if (!image) return failed(std::string("an empty image is not saved (") + path + ")"), false;
  // 32-bit images are written as they are; others through a 32-bit copy.
  const bool wide = image.bytesPerPixel() == 4;
  const Image converted = wide ? Image{} : argbOf(image);
  if (!wide && !converted) return false;
  const Image& argb = wide ? image : converted;
  const bool opaque = !wide || allOpaque(image);
  std::vector<uint8_t> file;
  if (!(format == Format::png ? codec::writePng(argb, opaque, file) : codec::writeBmp(argb, file))) {
    setPublicFailure(std::string(lastFailure()) + " (" + path + ")");
    return false;
  }
  return replaceFile(path, file);
}

}  // namespace

Image loadImage(const void* data, std::size_t size) {
  const auto* bytes = static_cast<const uint8_t*>(data);
  if (!bytes) return failed("no data given for an image");
  if (size < 8) return failed("the data is too short for an image (" + std::to_string(size) + " bytes)");
  if (bytes[0] == 'B' && bytes[1] == 'M') return codec::readBmp(bytes, size);
  if (std::memcmp(bytes, "\x89PNG\r\n\x1a\n", 8) == 0) return codec::readPng(bytes, size);
  if (bytes[0] == 0xFF && bytes[1] == 0xD8 && bytes[2] == 0xFF) return codec::readJpeg(bytes, size);
  return failed("not a PNG, JPEG or BMP file");
}

Image loadImage(const char* path) {
  if (!path) return failed("no path given to load from");
  std::vector<uint8_t> bytes;
  if (!readFile(path, bytes, largestFile, "image file")) return {};
  Image image = loadImage(bytes.data(), bytes.size());
  if (!image) setPublicFailure(std::string(path) + ": " + lastFailure());
  return image;
}

bool savePng(const Image& image, const char* path) { return save(image, path, Format::png); }
bool saveBmp(const Image& image, const char* path) { return save(image, path, Format::bmp); }

bool saveByExtension(const Image& image, const char* path) {
  if (path && extensionOf(path) == ".bmp") return saveBmp(image, path);
  return savePng(image, path);
}

}  // namespace pellucet
