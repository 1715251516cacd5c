#pragma once
// The screenshot image path: 8-bit RGB frames, bicubic resizing, PNG in and out, base64.
#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace orvane::pc::image {

// Packed 8-bit RGB, rows top to bottom, no padding: pixels.size() == width * height * 3.
struct RgbImage {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> pixels;
};

// Raised for undecodable PNG data and impossible sizes; the message says what is wrong.
class ImageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Bicubic resampling as the common imaging libraries define it (Keys kernel, a = -0.5; support
// widened by the reduction factor so that downscaling is anti-aliased; separable; 8-bit fixed
// point with rounding and clipping).
RgbImage resize_bicubic(const RgbImage& source, int width, int height);

enum class PngEffort {
  Fast,      // for the disk copy: quick filtering and compression
  Smallest,  // for the model: per-row adaptive filtering and strong compression
};

// PNG bytes of the image (colour type RGB, 8 bits).
std::string encode_png(const RgbImage& image, PngEffort effort);

// Decodes any PNG (palette, grey, alpha, 16-bit are converted) to 8-bit RGB.
RgbImage decode_png(std::string_view bytes);
RgbImage read_png_file(const std::filesystem::path& path);

// RFC 4648 base64: standard alphabet, "=" padding, no line breaks.
std::string base64_encode(std::string_view bytes);

}  // namespace orvane::pc::image
