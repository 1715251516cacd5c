#pragma once
// The pixels of an RGB image as PNG samples of one colour type and bit depth: RGB as it is, or
// greyscale or a palette where the pixels allow it, packed to as few bits as their values need.
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "image/image.hpp"

namespace orvane::pc::image {

enum class PngColour : std::uint8_t { Grey = 0, Rgb = 2, Palette = 3 };  // PNG colour type numbers

struct PngRaster {
  PngColour colour = PngColour::Rgb;
  int bit_depth = 8;  // 1, 2, 4 or 8
  int width = 0;
  int height = 0;
  std::size_t row_bytes = 0;
  // How far back the Sub, Average and Paeth filters look: one pixel, rounded up to a byte.
  int filter_stride = 3;
  // height rows of row_bytes each: the RGB image's own pixels (borrowed), or `packed`.
  const std::uint8_t* rgb = nullptr;
  std::vector<std::uint8_t> packed;
  std::vector<std::array<std::uint8_t, 3>> palette;

  const std::uint8_t* row(int y) const {
    return (rgb != nullptr ? rgb : packed.data()) + static_cast<std::size_t>(y) * row_bytes;
  }
};

// The image as 8-bit RGB samples, without a copy: `image` must outlive the raster.
PngRaster rgb_raster(const RgbImage& image);

// Every smaller colour type that holds each pixel exactly: greyscale when every pixel has
// R = G = B, a palette when there are at most 256 colours (and it needs fewer bits per pixel than
// greyscale would). Empty when only RGB holds the image.
std::vector<PngRaster> reduced_rasters(const RgbImage& image);

}  // namespace orvane::pc::image
