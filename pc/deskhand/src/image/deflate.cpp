#include <libdeflate.h>

#include <memory>

#include "image/deflate.hpp"

namespace orvane::pc::image {
namespace {

struct CompressorDeleter {
  void operator()(libdeflate_compressor* c) const { libdeflate_free_compressor(c); }
};

}  // namespace

Compressed compress_levelled(const Buffer& in, int level, const PngRaster& raster) {
  std::unique_ptr<libdeflate_compressor, CompressorDeleter> compressor(
      libdeflate_alloc_compressor(level));
  if (!compressor) {
    throw ImageError("cannot start the PNG compressor at level " + std::to_string(level));
  }
  const std::size_t bound = libdeflate_zlib_compress_bound(compressor.get(), in.size);
  check_chunk_size(bound, raster);
  Compressed out{Buffer(bound)};
  out.size = libdeflate_zlib_compress(compressor.get(), in.data.get(), in.size, out.data.data.get(),
                                      bound);
  return out;
}

std::uint32_t png_crc32(const void* data, std::size_t size) {
  return libdeflate_crc32(0, data, size);
}

}  // namespace orvane::pc::image
