#pragma once
// PNG's scanline filters over a raster of any colour type: each row becomes its filter type byte
// and the filtered bytes, ready for deflate.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "image/png_raster.hpp"
#include "image/png_settings.hpp"

namespace orvane::pc::image {

// Left uninitialised: every byte is written before it is read, and zeroing megabytes that are
// overwritten at once is measurable.
struct Buffer {
  std::unique_ptr<std::uint8_t[]> data;
  std::size_t size = 0;
  explicit Buffer(std::size_t n) : data(new std::uint8_t[n]), size(n) {}
};

Buffer filter_rows(const PngRaster& raster, RowFilter filter);

}  // namespace orvane::pc::image
