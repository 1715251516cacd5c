#pragma once
// The deflater of the PNG writer's levelled candidates and the chunk checksum: libdeflate where it
// is packaged (Linux), zlib elsewhere (no libdeflate is built for MinGW). The streams differ
// between the two, the pixels they hold do not.
#include <cstddef>
#include <cstdint>
#include <string>

#include "image/image.hpp"
#include "image/png_filter.hpp"
#include "image/png_raster.hpp"

struct z_stream_s;  // zlib's z_stream

namespace orvane::pc::image {

// The zlib stream of the scanlines, in a buffer of the worst-case size of which only the used
// pages are touched.
struct Compressed {
  Buffer data;
  std::size_t size = 0;
};

// A PNG chunk holds at most 2^31 - 1 bytes; a worst case beyond that is refused up front.
inline void check_chunk_size(std::size_t bound, const PngRaster& raster) {
  if (bound > 0x7fffffff) {
    throw ImageError("image of " + std::to_string(raster.width) + "x" +
                     std::to_string(raster.height) + " is too large to encode as one PNG chunk");
  }
}

// `level` is libdeflate's scale, 0 to 12; zlib takes it up to its own 9.
Compressed compress_levelled(const Buffer& in, int level, const PngRaster& raster);

// Deflates the whole of `in` through a zlib stream set up by the caller (deflateInit), and ends
// the stream.
Compressed deflate_whole(z_stream_s& stream, const Buffer& in, const PngRaster& raster);

std::uint32_t png_crc32(const void* data, std::size_t size);

}  // namespace orvane::pc::image
