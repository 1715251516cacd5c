#pragma once
// The raw video formats a screen cast may arrive in, and their conversion to packed RGB.
#include <cstddef>
#include <cstdint>
#include <span>

namespace orvane::pc::pipewire {

// Where red, green and blue sit among a pixel's bytes in memory (SPA names formats by byte
// order).
struct PixelLayout {
  std::uint32_t format;  // spa_video_format
  int bytes;
  int red, green, blue;
};

// Every format we read, in the order we prefer them.
std::span<const PixelLayout> pixel_layouts();
// Null for a format we cannot read.
const PixelLayout* pixel_layout(std::uint32_t format);

// Converts `height` rows of `width` pixels, `stride` bytes apart, to packed RGB at `rgb`.
void to_rgb(const PixelLayout& layout, const std::uint8_t* pixels, std::size_t stride, int width,
            int height, std::uint8_t* rgb);

}  // namespace orvane::pc::pipewire
