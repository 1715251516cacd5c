// A PNG writer of its own: the general-purpose encoders filter and compress through zlib, which is
// several times slower than libdeflate for the same or larger output.
#include <libdeflate.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "image/png_filter.hpp"
#include "image/png_raster.hpp"
#include "image/png_settings.hpp"

namespace orvane::pc::image {
namespace {

constexpr std::size_t MAX_CHUNK_SIZE = 0x7fffffff;

void put_u32(std::string& out, std::uint32_t v) {
  out.push_back(static_cast<char>(v >> 24));
  out.push_back(static_cast<char>(v >> 16));
  out.push_back(static_cast<char>(v >> 8));
  out.push_back(static_cast<char>(v));
}

// Appends a chunk whose data is already at the end of `out` (after the length and type fields
// that this reserves): avoids copying the compressed image a second time.
void finish_chunk(std::string& out, std::size_t chunk_start) {
  const std::size_t data_size = out.size() - chunk_start - 8;
  for (int i = 0; i < 4; ++i) {
    out[chunk_start + i] = static_cast<char>(data_size >> (24 - 8 * i));
  }
  const std::uint32_t crc = libdeflate_crc32(0, out.data() + chunk_start + 4, data_size + 4);
  put_u32(out, crc);
}

std::size_t start_chunk(std::string& out, const char (&type)[5]) {
  const std::size_t start = out.size();
  put_u32(out, 0);
  out.append(type, 4);
  return start;
}

struct CompressorDeleter {
  void operator()(libdeflate_compressor* c) const { libdeflate_free_compressor(c); }
};

std::string encode_raster(const PngRaster& raster, RowFilter filter,
                          libdeflate_compressor& compressor) {
  const Buffer scanlines = filter_rows(raster, filter);
  const std::size_t bound = libdeflate_zlib_compress_bound(&compressor, scanlines.size);
  if (bound > MAX_CHUNK_SIZE) {
    throw ImageError("image of " + std::to_string(raster.width) + "x" +
                     std::to_string(raster.height) + " is too large to encode as one PNG chunk");
  }

  std::string png("\x89PNG\r\n\x1a\n", 8);
  std::size_t chunk = start_chunk(png, "IHDR");
  put_u32(png, static_cast<std::uint32_t>(raster.width));
  put_u32(png, static_cast<std::uint32_t>(raster.height));
  // Then deflate, adaptive filtering, no interlace.
  png.append({static_cast<char>(raster.bit_depth), static_cast<char>(raster.colour), 0, 0, 0});
  finish_chunk(png, chunk);

  if (raster.colour == PngColour::Palette) {
    chunk = start_chunk(png, "PLTE");
    for (const auto& entry : raster.palette) {
      png.append(reinterpret_cast<const char*>(entry.data()), entry.size());
    }
    finish_chunk(png, chunk);
  }

  // Compressed into a buffer of the worst-case size, of which only the used pages are touched.
  Buffer compressed(bound);
  const std::size_t compressed_size = libdeflate_zlib_compress(
      &compressor, scanlines.data.get(), scanlines.size, compressed.data.get(), compressed.size);
  if (compressed_size == 0) throw ImageError("PNG compression failed");
  png.reserve(png.size() + compressed_size + 24);
  chunk = start_chunk(png, "IDAT");
  png.append(reinterpret_cast<const char*>(compressed.data.get()), compressed_size);
  finish_chunk(png, chunk);

  chunk = start_chunk(png, "IEND");
  finish_chunk(png, chunk);
  return png;
}

}  // namespace

PngSettings png_settings(PngEffort effort) {
  switch (effort) {
    case PngEffort::Fast:
      return {RowFilter::Up, 1, false};
    case PngEffort::Smallest:
      break;
  }
  return {RowFilter::MinEntropy, 6, true};
}

std::string encode_png(const RgbImage& image, const PngSettings& settings) {
  if (image.width <= 0 || image.height <= 0 ||
      image.pixels.size() != static_cast<std::size_t>(image.width) * image.height * 3) {
    throw ImageError("cannot encode an image of " + std::to_string(image.width) + "x" +
                     std::to_string(image.height) + " with " + std::to_string(image.pixels.size()) +
                     " bytes of pixels");
  }
  std::unique_ptr<libdeflate_compressor, CompressorDeleter> compressor(
      libdeflate_alloc_compressor(settings.level));
  if (!compressor) {
    throw ImageError("cannot start the PNG compressor at level " + std::to_string(settings.level));
  }
  if (!settings.reduce_colours) {
    return encode_raster(rgb_raster(image), settings.filter, *compressor);
  }

  std::string smallest;
  const auto keep_smaller = [&](const PngRaster& raster, RowFilter filter) {
    std::string png = encode_raster(raster, filter, *compressor);
    if (smallest.empty() || png.size() < smallest.size()) smallest = std::move(png);
  };
  const std::vector<PngRaster> reduced = reduced_rasters(image);
  for (const PngRaster& raster : reduced) {
    // On a desktop deflate finds long repeats in the unfiltered samples, which filtering breaks
    // up; on gradients the filters win, as they do on RGB.
    keep_smaller(raster, RowFilter::None);
    if (settings.filter != RowFilter::None) keep_smaller(raster, settings.filter);
  }
  // Greyscale holds the same samples as RGB once instead of three times: RGB never wins then.
  const bool grey = !reduced.empty() && reduced.back().colour == PngColour::Grey;
  if (!grey) keep_smaller(rgb_raster(image), settings.filter);
  return smallest;
}

std::string encode_png(const RgbImage& image, PngEffort effort) {
  return encode_png(image, png_settings(effort));
}

}  // namespace orvane::pc::image
