#pragma once
// Reads a PNG back to pixels, to check what a screenshot shows.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace orvane::app::tour {

struct RgbPixels {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> rgb;  // packed 8-bit RGB, rows top to bottom

  std::array<int, 3> at(int x, int y) const {
    const std::size_t i = (static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                           static_cast<std::size_t>(x)) *
                          3;
    return {rgb.at(i), rgb.at(i + 1), rgb.at(i + 2)};
  }
};

// Throws CheckFailed when `png` is not a PNG that can be decoded.
RgbPixels decode_png(const std::string& png);

}  // namespace orvane::app::tour
