// PNG and JPEG on Windows, through the Windows Imaging Component: read from
// memory and converted to 32-bit BGRA words (0xAARRGGBB), PNG written to a
// stream in memory. windowscodecs.dll is looked up at run time, so a system
// without it refuses with the reason instead of not starting.
//
// Where WIC and libpng differ, the Linux reading wins: the PNG's chunks and
// CRCs are checked here first (Wine's decoder lets bad CRCs and a missing end
// pass), 16-bit channels are read as they are and rounded here, since WIC's
// converter does not round them, and a PNG's gAMA, which WIC's decoders
// ignore, is applied here as libpng applies it.
#include <windows.h>
#include <objbase.h>
#include <wincodec.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "api/image_codecs.h"

namespace pellucet::codec {
namespace {

// The GUIDs used, here rather than from a uuid library.
constexpr GUID containerPng = {0x1B7CFAF4, 0x713F, 0x473C, {0xBB, 0xCD, 0x61, 0x37, 0x42, 0x5F, 0xAE, 0xAF}};
constexpr GUID containerJpeg = {0x19E4A5AA, 0x5662, 0x4FC5, {0xA0, 0xC0, 0x17, 0x58, 0x02, 0x8E, 0x10, 0x57}};
constexpr GUID format24bppBGR = {0x6FDDC324, 0x4E03, 0x4BFE, {0xB1, 0x85, 0x3D, 0x77, 0x76, 0x8D, 0xC9, 0x0C}};
constexpr GUID format32bppBGRA = {0x6FDDC324, 0x4E03, 0x4BFE, {0xB1, 0x85, 0x3D, 0x77, 0x76, 0x8D, 0xC9, 0x0F}};
constexpr GUID format32bppCMYK = {0x6FDDC324, 0x4E03, 0x4BFE, {0xB1, 0x85, 0x3D, 0x77, 0x76, 0x8D, 0xC9, 0x1C}};
constexpr GUID format16bppGray = {0x6FDDC324, 0x4E03, 0x4BFE, {0xB1, 0x85, 0x3D, 0x77, 0x76, 0x8D, 0xC9, 0x0B}};
constexpr GUID format48bppRGB = {0x6FDDC324, 0x4E03, 0x4BFE, {0xB1, 0x85, 0x3D, 0x77, 0x76, 0x8D, 0xC9, 0x15}};
constexpr GUID format48bppBGR = {0xE605A384, 0xB468, 0x46CE, {0xBB, 0x2E, 0x36, 0xF1, 0x80, 0xE6, 0x43, 0x13}};
constexpr GUID format64bppRGBA = {0x6FDDC324, 0x4E03, 0x4BFE, {0xB1, 0x85, 0x3D, 0x77, 0x76, 0x8D, 0xC9, 0x16}};
constexpr GUID format64bppBGRA = {0x1562FF7C, 0xD352, 0x46F9, {0x97, 0x9E, 0x42, 0x97, 0x6B, 0x79, 0x22, 0x46}};

// Owns one reference to a COM object.
template <typename T>
class Ref {
 public:
  Ref() = default;
  ~Ref() { reset(); }
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  T* operator->() const { return object_; }
  T* get() const { return object_; }
  T** out() {
    reset();
    return &object_;
  }
  void reset() {
    if (object_) object_->Release();
    object_ = nullptr;
  }

 private:
  T* object_ = nullptr;
};

// COM on the calling thread for the length of one call. A thread already in
// an apartment of the other kind keeps it (RPC_E_CHANGED_MODE): COM works
// there all the same, and only an initialisation made here is undone.
class ComOnThread {
 public:
  ComOnThread() : result_(CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {}
  ~ComOnThread() {
    if (SUCCEEDED(result_)) CoUninitialize();
  }
  ComOnThread(const ComOnThread&) = delete;
  ComOnThread& operator=(const ComOnThread&) = delete;
  bool usable() const { return SUCCEEDED(result_) || result_ == RPC_E_CHANGED_MODE; }
  HRESULT result() const { return result_; }

 private:
  HRESULT result_;
};

std::string hex(HRESULT hr) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(hr));
  return text;
}

std::string wicReason(const char* kind, const char* what, HRESULT hr) {
  return std::string(kind) + ": " + what + " (Windows Imaging Component error " + hex(hr) + ")";
}

using CreateFactoryFn = HRESULT(WINAPI*)(UINT, IWICImagingFactory**);

// WIC's factory, or null with the reason. The DLL stays loaded once found.
bool makeFactory(const char* kind, const ComOnThread& com, Ref<IWICImagingFactory>& factory, std::string& reason) {
  static const CreateFactoryFn create = [] {
    HMODULE library = LoadLibraryA("windowscodecs.dll");
    FARPROC entry = library ? GetProcAddress(library, "WICCreateImagingFactory_Proxy") : nullptr;
    return reinterpret_cast<CreateFactoryFn>(reinterpret_cast<void (*)()>(entry));
  }();
  if (!create) {
    reason = std::string(kind) + ": the Windows Imaging Component (windowscodecs.dll) is missing";
    return false;
  }
  if (!com.usable()) {
    reason = std::string(kind) + ": COM cannot be started on this thread (error " + hex(com.result()) + ")";
    return false;
  }
  const HRESULT hr = create(WINCODEC_SDK_VERSION, factory.out());
  if (FAILED(hr) || !factory.get()) {
    reason = wicReason(kind, "the imaging component cannot start", FAILED(hr) ? hr : E_POINTER);
    return false;
  }
  return true;
}

uint32_t bigEndian32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 | p[3];
}

uint32_t crc32(const uint8_t* p, std::size_t n) {
  static const std::array<uint32_t, 256> table = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[i] = c;
    }
    return t;
  }();
  uint32_t c = 0xFFFFFFFFu;
  for (std::size_t i = 0; i < n; ++i) c = table[(c ^ p[i]) & 0xFF] ^ (c >> 8);
  return c ^ 0xFFFFFFFFu;
}

// The PNG's chunks from the header to IEND, each whole and with its CRC, and
// the size in the header allowed; false with the reason as libpng words it.
// `gamma` gets what gAMA and sRGB ask for.
bool pngChunksSound(const uint8_t* data, std::size_t size, std::string& reason, PngGamma& gamma) {
  std::size_t at = 8;
  uint32_t fileGamma = 0;
  bool sRgb = false, imageData = false;
  for (bool first = true;; first = false) {
    if (size - at < 12) return reason = "the file is truncated", false;
    const uint32_t length = bigEndian32(data + at);
    if (length > 0x7FFFFFFFu) return reason = "a chunk length is too large", false;
    if (length > size - at - 12) return reason = "the file is truncated", false;
    const uint8_t* type = data + at + 4;
    std::string name(reinterpret_cast<const char*>(type), 4);
    for (char& c : name) c = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ? c : '?';
    if (crc32(type, length + 4) != bigEndian32(type + 4 + length)) return reason = name + ": CRC error", false;
    if (first) {
      if (name != "IHDR" || length != 13) return reason = "the file does not start with IHDR", false;
      if (!sizeAllowed(bigEndian32(type + 4), bigEndian32(type + 8), reason)) return false;
    }
    if (name == "gAMA" && length == 4 && !imageData) fileGamma = bigEndian32(type + 4);
    if (name == "sRGB" && !imageData) sRgb = true;
    if (name == "IDAT") imageData = true;
    if (name == "IEND") {
      gamma = pngGamma(fileGamma, sRgb);
      return true;
    }
    at += 12 + length;
  }
}

// The size in a JPEG's frame header, checked before WIC decodes (Wine's
// decoder allocates the whole picture at once). A file whose header cannot
// be found is left to WIC to refuse.
bool jpegSizeAllowed(const uint8_t* data, std::size_t size, std::string& reason) {
  std::size_t at = 2;
  while (at + 4 <= size && data[at] == 0xFF) {
    const uint8_t marker = data[at + 1];
    if (marker == 0xFF) {  // fill byte
      ++at;
      continue;
    }
    if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {  // no length follows
      at += 2;
      continue;
    }
    if (marker == 0xDA || marker == 0xD9) break;  // the scan, or the end, before any frame
    const std::size_t length = static_cast<std::size_t>(data[at + 2]) << 8 | data[at + 3];
    const bool frame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
    if (frame && length >= 7 && size - at >= 9) {
      const int64_t height = data[at + 5] << 8 | data[at + 6], width = data[at + 7] << 8 | data[at + 8];
      return height == 0 || sizeAllowed(width, height, reason);  // height 0: given later, WIC decides
    }
    if (length < 2) break;
    at += 2 + length;
  }
  return true;
}

// Frames of 16 bits a channel: where each channel's sample sits in a pixel.
// Grey repeats its one sample; `alpha` -1 is none (opaque).
struct WideFormat {
  const GUID* format;
  int samples, red, green, blue, alpha;
};
constexpr WideFormat wideFormats[] = {
    {&format16bppGray, 1, 0, 0, 0, -1}, {&format48bppRGB, 3, 0, 1, 2, -1}, {&format48bppBGR, 3, 2, 1, 0, -1},
    {&format64bppRGBA, 4, 0, 1, 2, 3},  {&format64bppBGRA, 4, 2, 1, 0, 3},
};

const WideFormat* wideFormatOf(const GUID& format) {
  for (const WideFormat& w : wideFormats) {
    if (IsEqualGUID(*w.format, format)) return &w;
  }
  return nullptr;
}

// 16 bits to 8, rounded as libpng's scaling does.
inline uint32_t to8(uint16_t v) { return (static_cast<uint32_t>(v) + 128) / 257; }

// A 16-bit frame's samples rounded to 8 bits, a row at a time, colour
// through the gamma where one applies. WIC's own conversion takes the high
// byte (Wine) or treats the samples as linear light (Windows); libpng rounds.
HRESULT copyWide(IWICBitmapSource* frame, const WideFormat& w, const PngGamma& gamma, Image& image) {
  const std::vector<uint8_t> shown = gamma.exact != 0 ? gammaTable(65536, gamma.exact) : std::vector<uint8_t>{};
  auto colour = [&](uint16_t v) { return shown.empty() ? to8(v) : uint32_t{shown[v]}; };
  const UINT stride = static_cast<UINT>(image.width()) * static_cast<UINT>(w.samples) * 2;
  std::vector<uint16_t> row(static_cast<std::size_t>(image.width()) * static_cast<std::size_t>(w.samples));
  for (int y = 0; y < image.height(); ++y) {
    const WICRect line{0, y, image.width(), 1};
    const HRESULT hr = frame->CopyPixels(&line, stride, stride, reinterpret_cast<BYTE*>(row.data()));
    if (FAILED(hr)) return hr;
    auto* out = reinterpret_cast<uint32_t*>(image.pixels() + static_cast<std::ptrdiff_t>(y) * image.pitch());
    for (int x = 0; x < image.width(); ++x) {
      const uint16_t* s = row.data() + static_cast<std::ptrdiff_t>(x) * w.samples;
      const uint32_t a = w.alpha < 0 ? 0xFF : to8(s[w.alpha]);
      out[x] = a << 24 | colour(s[w.red]) << 16 | colour(s[w.green]) << 8 | colour(s[w.blue]);
    }
  }
  return S_OK;
}

// The first frame of a PNG or JPEG in memory, as 32-bit BGRA, through a
// PNG's gamma (WIC's decoders ignore gAMA).
Image decode(const char* kind, const GUID& container, const uint8_t* data, std::size_t size, const PngGamma& gamma) {
  if (size > MAXDWORD) return failed(std::string(kind) + ": the data is larger than 4 GiB");
  ComOnThread com;
  Ref<IWICImagingFactory> factory;
  std::string reason;
  if (!makeFactory(kind, com, factory, reason)) return failed(reason);
  Ref<IWICStream> stream;
  HRESULT hr = factory->CreateStream(stream.out());
  // WIC only reads from the memory given.
  if (SUCCEEDED(hr)) hr = stream->InitializeFromMemory(const_cast<BYTE*>(data), static_cast<DWORD>(size));
  if (FAILED(hr)) return failed(wicReason(kind, "the data cannot be opened as a stream", hr));
  Ref<IWICBitmapDecoder> decoder;
  hr = factory->CreateDecoderFromStream(stream.get(), nullptr, WICDecodeMetadataCacheOnDemand, decoder.out());
  if (FAILED(hr)) return failed(wicReason(kind, "the file is damaged or cannot be decoded", hr));
  GUID found{};
  hr = decoder->GetContainerFormat(&found);
  if (FAILED(hr)) return failed(wicReason(kind, "the file's format cannot be told", hr));
  if (!IsEqualGUID(found, container)) return failed(std::string(kind) + ": the file was decoded as another format");
  Ref<IWICBitmapFrameDecode> frame;
  hr = decoder->GetFrame(0, frame.out());
  UINT width = 0, height = 0;
  if (SUCCEEDED(hr)) hr = frame->GetSize(&width, &height);
  GUID format{};
  if (SUCCEEDED(hr)) hr = frame->GetPixelFormat(&format);
  if (FAILED(hr)) return failed(wicReason(kind, "the file is damaged or cannot be decoded", hr));
  if (!sizeAllowed(width, height, reason)) return failed(std::string(kind) + ": " + reason);
  if (IsEqualGUID(format, format32bppCMYK)) {
    return failed(std::string(kind) + ": CMYK images are not read (only greyscale and RGB)");
  }
  Image image(static_cast<int>(width), static_cast<int>(height), 32);
  if (!image) return image;
  if (const WideFormat* wide = wideFormatOf(format)) {
    hr = copyWide(frame.get(), *wide, gamma, image);
  } else {
    Ref<IWICFormatConverter> converter;
    hr = factory->CreateFormatConverter(converter.out());
    if (SUCCEEDED(hr)) {
      hr = converter->Initialize(frame.get(), format32bppBGRA, WICBitmapDitherTypeNone, nullptr, 0.0,
                                 WICBitmapPaletteTypeCustom);
    }
    if (FAILED(hr)) return failed(wicReason(kind, "the pixels cannot be converted to 32 bits", hr));
    const UINT pitch = static_cast<UINT>(image.pitch());
    hr = converter->CopyPixels(nullptr, pitch, pitch * height, image.pixels());
    if (SUCCEEDED(hr) && gamma.eightBit != 0) {
      const std::vector<uint8_t> shown = gammaTable(256, gamma.eightBit);
      for (UINT y = 0; y < height; ++y) {
        uint8_t* p = image.pixels() + static_cast<std::ptrdiff_t>(y) * pitch;
        for (UINT i = 0; i < width * 4; ++i) p[i] = i % 4 == 3 ? p[i] : shown[p[i]];
      }
    }
  }
  if (FAILED(hr)) return failed(wicReason(kind, "the file is damaged or cannot be decoded", hr));
  return image;
}

}  // namespace

Image readPng(const uint8_t* data, std::size_t size) {
  std::string reason;
  if (size < 8 || std::memcmp(data, "\x89PNG\r\n\x1a\n", 8) != 0) return failed("PNG: not a PNG file");
  PngGamma gamma;
  if (!pngChunksSound(data, size, reason, gamma)) return failed("PNG: " + reason);
  return decode("PNG", containerPng, data, size, gamma);
}

Image readJpeg(const uint8_t* data, std::size_t size) {
  std::string reason;
  if (size < 3 || data[0] != 0xFF || data[1] != 0xD8) return failed("JPEG: not a JPEG file");
  if (!jpegSizeAllowed(data, size, reason)) return failed("JPEG: " + reason);
  Image image = decode("JPEG", containerJpeg, data, size, PngGamma{});
  if (!image) return image;
  return oriented(std::move(image), jpegOrientation(data, size));
}

bool writePng(const Image& argb, bool opaque, std::vector<uint8_t>& file) {
  auto refuse = [](const char* what, HRESULT hr) { return failed(wicReason("PNG", what, hr)), false; };
  ComOnThread com;
  Ref<IWICImagingFactory> factory;
  std::string reason;
  if (!makeFactory("PNG", com, factory, reason)) return failed(reason), false;
  Ref<IStream> memory;
  Ref<IWICStream> stream;
  HRESULT hr = CreateStreamOnHGlobal(nullptr, TRUE, memory.out());
  if (SUCCEEDED(hr)) hr = factory->CreateStream(stream.out());
  if (SUCCEEDED(hr)) hr = stream->InitializeFromIStream(memory.get());
  if (FAILED(hr)) return refuse("no stream in memory to write to", hr);
  Ref<IWICBitmapEncoder> encoder;
  Ref<IWICBitmapFrameEncode> frame;
  Ref<IPropertyBag2> options;
  hr = factory->CreateEncoder(containerPng, nullptr, encoder.out());
  if (SUCCEEDED(hr)) hr = encoder->Initialize(stream.get(), WICBitmapEncoderNoCache);
  if (SUCCEEDED(hr)) hr = encoder->CreateNewFrame(frame.out(), options.out());
  if (SUCCEEDED(hr)) hr = frame->Initialize(options.get());
  const UINT width = static_cast<UINT>(argb.width()), height = static_cast<UINT>(argb.height());
  if (SUCCEEDED(hr)) hr = frame->SetSize(width, height);
  GUID format = opaque ? format24bppBGR : format32bppBGRA;
  if (SUCCEEDED(hr)) hr = frame->SetPixelFormat(&format);
  if (FAILED(hr)) return refuse("the encoder cannot be set up", hr);
  // The encoder answers with the format it will take instead, if it must.
  if (!IsEqualGUID(format, opaque ? format24bppBGR : format32bppBGRA)) {
    return refuse("the encoder does not take 8-bit BGR(A) pixels", WINCODEC_ERR_UNSUPPORTEDPIXELFORMAT);
  }
  if (opaque) {
    // 24-bit rows, one at a time, so no second copy of the picture is made.
    const UINT stride = width * 3;
    std::vector<BYTE> row(stride);
    for (UINT y = 0; y < height && SUCCEEDED(hr); ++y) {
      const uint8_t* in = argb.pixels() + static_cast<std::ptrdiff_t>(y) * argb.pitch();
      for (UINT x = 0; x < width; ++x) std::memcpy(&row[3 * x], in + 4 * x, 3);
      hr = frame->WritePixels(1, stride, stride, row.data());
    }
  } else {
    // WIC only reads the rows given.
    const UINT pitch = static_cast<UINT>(argb.pitch());
    hr = frame->WritePixels(height, pitch, pitch * height, const_cast<BYTE*>(argb.pixels()));
  }
  if (SUCCEEDED(hr)) hr = frame->Commit();
  if (SUCCEEDED(hr)) hr = encoder->Commit();
  if (FAILED(hr)) return refuse("the image cannot be encoded", hr);
  STATSTG status{};
  HGLOBAL global = nullptr;
  hr = memory->Stat(&status, STATFLAG_NONAME);
  if (SUCCEEDED(hr)) hr = GetHGlobalFromStream(memory.get(), &global);
  if (FAILED(hr)) return refuse("the encoded file cannot be read back", hr);
  const uint64_t length = status.cbSize.QuadPart;
  if (length > GlobalSize(global)) return refuse("the encoded file is shorter than its stream says", E_UNEXPECTED);
  const void* bytes = GlobalLock(global);
  if (!bytes) return refuse("the encoded file cannot be read back", HRESULT_FROM_WIN32(GetLastError()));
  file.assign(static_cast<const uint8_t*>(bytes), static_cast<const uint8_t*>(bytes) + length);
  GlobalUnlock(global);
  return true;
}

}  // namespace pellucet::codec
