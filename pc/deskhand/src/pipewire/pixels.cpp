#include "pipewire/pixels.hpp"

#include <spa/param/video/raw.h>

#include <array>

namespace orvane::pc::pipewire {
namespace {

constexpr std::array LAYOUTS{
    PixelLayout{SPA_VIDEO_FORMAT_BGRx, 4, 2, 1, 0}, PixelLayout{SPA_VIDEO_FORMAT_BGRA, 4, 2, 1, 0},
    PixelLayout{SPA_VIDEO_FORMAT_RGBx, 4, 0, 1, 2}, PixelLayout{SPA_VIDEO_FORMAT_RGBA, 4, 0, 1, 2},
    PixelLayout{SPA_VIDEO_FORMAT_xRGB, 4, 1, 2, 3}, PixelLayout{SPA_VIDEO_FORMAT_ARGB, 4, 1, 2, 3},
    PixelLayout{SPA_VIDEO_FORMAT_xBGR, 4, 3, 2, 1}, PixelLayout{SPA_VIDEO_FORMAT_ABGR, 4, 3, 2, 1},
    PixelLayout{SPA_VIDEO_FORMAT_RGB, 3, 0, 1, 2},  PixelLayout{SPA_VIDEO_FORMAT_BGR, 3, 2, 1, 0},
};

// The byte positions as constants, so that the compiler turns each row into shuffles.
template <int Bytes, int Red, int Green, int Blue>
void convert(const std::uint8_t* pixels, std::size_t stride, int width, int height,
             std::uint8_t* rgb) {
  for (int y = 0; y < height; ++y, pixels += stride) {
    const std::uint8_t* in = pixels;
    for (int x = 0; x < width; ++x, in += Bytes, rgb += 3) {
      rgb[0] = in[Red];
      rgb[1] = in[Green];
      rgb[2] = in[Blue];
    }
  }
}

}  // namespace

std::span<const PixelLayout> pixel_layouts() {
  return LAYOUTS;
}

const PixelLayout* pixel_layout(std::uint32_t format) {
  for (const auto& layout : LAYOUTS)
    if (layout.format == format) return &layout;
  return nullptr;
}

void to_rgb(const PixelLayout& layout, const std::uint8_t* pixels, std::size_t stride, int width,
            int height, std::uint8_t* rgb) {
  const auto run = [&](auto convert) { convert(pixels, stride, width, height, rgb); };
  if (layout.bytes == 3) {
    if (layout.red == 0) return run(convert<3, 0, 1, 2>);
    return run(convert<3, 2, 1, 0>);
  }
  switch (layout.red) {
    case 0:
      return run(convert<4, 0, 1, 2>);
    case 1:
      return run(convert<4, 1, 2, 3>);
    case 2:
      return run(convert<4, 2, 1, 0>);
    default:
      return run(convert<4, 3, 2, 1>);
  }
}

}  // namespace orvane::pc::pipewire
