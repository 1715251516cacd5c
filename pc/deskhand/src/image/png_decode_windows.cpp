// PNG decoding through the Windows Imaging Component: part of every Windows, so the DLL carries
// no decoder of its own. It is told the data is PNG, so other formats WIC reads are refused.
#include <wincodec.h>
#include <windows.h>
#include <wrl/client.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "image/image.hpp"

namespace orvane::pc::image {
namespace {

using Microsoft::WRL::ComPtr;

// A screen of 16384 x 8192 is far beyond any display; a header that claims more is refused
// before its pixels are allocated.
constexpr std::size_t MAX_PIXELS = std::size_t{1} << 27;

// Pixels converted per call: a band of rows small enough to stay in the cache.
constexpr UINT BAND_PIXELS = 1 << 16;

constexpr std::array<std::uint8_t, 8> SIGNATURE = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};

[[noreturn]] void fail(const char* step, const std::string& why) {
  throw ImageError(std::string("invalid PNG data (") + step + "): " + why);
}

void check(HRESULT hr, const char* step) {
  if (SUCCEEDED(hr)) return;
  char code[16];
  std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(hr));
  fail(step, std::string("decoder error ") + code);
}

std::uint32_t big_endian_u32(std::string_view bytes, std::size_t at) {
  std::uint32_t v = 0;
  for (std::size_t i = 0; i < 4; ++i) v = (v << 8) | static_cast<std::uint8_t>(bytes[at + i]);
  return v;
}

// Signature and IHDR read here, so that the size limit holds whatever the system decoder does.
void check_header(std::string_view bytes) {
  if (bytes.size() < SIGNATURE.size() ||
      !std::equal(SIGNATURE.begin(), SIGNATURE.end(), bytes.begin(),
                  [](std::uint8_t a, char b) { return a == static_cast<std::uint8_t>(b); })) {
    fail("buffer", "invalid signature");
  }
  if (bytes.size() < 33 || bytes.substr(12, 4) != "IHDR") fail("header", "missing IHDR chunk");
  const std::uint32_t width = big_endian_u32(bytes, 16);
  const std::uint32_t height = big_endian_u32(bytes, 20);
  if (width == 0 || height == 0) fail("header", "invalid image size");
  if (static_cast<std::size_t>(width) * height > MAX_PIXELS) {
    throw ImageError("PNG image of " + std::to_string(width) + "x" + std::to_string(height) +
                     " pixels is too large");
  }
}

// COM on the calling thread for the call's duration; a thread already in a single-threaded
// apartment keeps it (WIC works in either).
class ComScope {
 public:
  ComScope() : hr_(::CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {}
  ~ComScope() {
    if (SUCCEEDED(hr_)) ::CoUninitialize();
  }
  ComScope(const ComScope&) = delete;
  ComScope& operator=(const ComScope&) = delete;

 private:
  HRESULT hr_;
};

}  // namespace

RgbImage decode_png(std::string_view bytes) {
  check_header(bytes);
  if (bytes.size() > MAXDWORD) fail("buffer", "data larger than 4 GiB");
  ComScope com;
  ComPtr<IWICImagingFactory> factory;
  if (FAILED(::CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                IID_PPV_ARGS(&factory)))) {
    throw ImageError("cannot start the PNG decoder");
  }
  ComPtr<IWICStream> stream;
  check(factory->CreateStream(&stream), "buffer");
  // WIC only reads the buffer, whatever the parameter's type says.
  check(stream->InitializeFromMemory(reinterpret_cast<BYTE*>(const_cast<char*>(bytes.data())),
                                     static_cast<DWORD>(bytes.size())),
        "buffer");
  ComPtr<IWICBitmapDecoder> decoder;
  check(factory->CreateDecoder(GUID_ContainerFormatPng, nullptr, &decoder), "decoder");
  check(decoder->Initialize(stream.Get(), WICDecodeMetadataCacheOnDemand), "header");
  ComPtr<IWICBitmapFrameDecode> frame;
  check(decoder->GetFrame(0, &frame), "header");
  UINT width = 0;
  UINT height = 0;
  check(frame->GetSize(&width, &height), "header");

  // Palette, grey, alpha and 16-bit samples all convert to 8-bit BGRA (every format WIC has
  // converts to that one), taken in bands of rows and packed to RGB; alpha is dropped.
  ComPtr<IWICFormatConverter> converter;
  check(factory->CreateFormatConverter(&converter), "format");
  check(converter->Initialize(frame.Get(), GUID_WICPixelFormat32bppBGRA, WICBitmapDitherTypeNone,
                              nullptr, 0.0, WICBitmapPaletteTypeCustom),
        "format");
  RgbImage image;
  image.width = static_cast<int>(width);
  image.height = static_cast<int>(height);
  image.pixels.resize(static_cast<std::size_t>(width) * height * 3);
  const UINT band_rows = std::max<UINT>(1, BAND_PIXELS / width);
  std::vector<std::uint8_t> band(static_cast<std::size_t>(width) * std::min(band_rows, height) * 4);
  std::uint8_t* out = image.pixels.data();
  for (UINT y = 0; y < height; y += band_rows) {
    const UINT rows = std::min(band_rows, height - y);
    const WICRect rect{0, static_cast<INT>(y), static_cast<INT>(width), static_cast<INT>(rows)};
    check(converter->CopyPixels(&rect, width * 4, width * rows * 4, band.data()), "image");
    const std::uint8_t* in = band.data();
    for (std::size_t i = 0, n = static_cast<std::size_t>(width) * rows; i < n; ++i, in += 4) {
      *out++ = in[2];
      *out++ = in[1];
      *out++ = in[0];
    }
  }
  return image;
}

}  // namespace orvane::pc::image
