#pragma once
// The knobs behind PngEffort, open to the benchmark so that the chosen settings can be defended.
#include <string>

#include "image/image.hpp"

namespace orvane::pc::image {

enum class RowFilter {
  None,
  Sub,
  Up,
  Average,
  Paeth,
  MinSumAbs,   // per row, the filter whose output bytes, read as signed, sum to the least magnitude
  MinEntropy,  // per row, of the filters that MinSumAbs ranks best, the one of least entropy
};

struct PngSettings {
  RowFilter filter = RowFilter::MinSumAbs;
  int level = 6;  // compression level on libdeflate's scale, 0 to 12
  // Greyscale or a palette where the pixels allow, each tried both with `filter` and unfiltered,
  // whichever encodes smallest; else always RGB.
  bool reduce_colours = false;
};

PngSettings png_settings(PngEffort effort);

std::string encode_png(const RgbImage& image, const PngSettings& settings);

}  // namespace orvane::pc::image
