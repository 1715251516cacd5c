#include <zlib.h>

#include <algorithm>
#include <memory>

#include "image/deflate.hpp"

namespace orvane::pc::image {

Compressed compress_levelled(const Buffer& in, int level, const PngRaster& raster) {
  if (level < 0 || level > 12) {
    throw ImageError("cannot start the PNG compressor at level " + std::to_string(level));
  }
  z_stream z{};
  if (deflateInit(&z, std::min(level, Z_BEST_COMPRESSION)) != Z_OK) {
    throw ImageError("cannot start the PNG compressor at level " + std::to_string(level));
  }
  return deflate_whole(z, in, raster);
}

std::uint32_t png_crc32(const void* data, std::size_t size) {
  // zlib counts in 32 bits; a chunk is smaller than 2^31 bytes.
  return static_cast<std::uint32_t>(
      crc32(0, static_cast<const Bytef*>(data), static_cast<uInt>(size)));
}

}  // namespace orvane::pc::image
