// A PNG writer of its own: the general-purpose encoders filter and compress through zlib, which is
// several times slower than libdeflate for the same or larger output. zlib is kept for one case
// where its match rules win (see compress_zlib). The levelled deflater is in deflate.hpp.
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "image/deflate.hpp"
#include "image/png_filter.hpp"
#include "image/png_raster.hpp"
#include "image/png_settings.hpp"

namespace orvane::pc::image {

Compressed deflate_whole(z_stream& z, const Buffer& in, const PngRaster& raster) {
  std::unique_ptr<z_stream, int (*)(z_stream*)> end(&z, deflateEnd);
  const std::size_t bound = deflateBound(&z, static_cast<uLong>(in.size));
  // Both sizes then fit zlib's 32-bit counters.
  check_chunk_size(std::max(bound, in.size), raster);
  Compressed out{Buffer(bound)};
  z.next_in = in.data.get();
  z.avail_in = static_cast<uInt>(in.size);
  z.next_out = out.data.data.get();
  z.avail_out = static_cast<uInt>(bound);
  if (deflate(&z, Z_FINISH) == Z_STREAM_END) out.size = bound - z.avail_out;
  return out;
}

namespace {

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
  const std::uint32_t crc = png_crc32(out.data() + chunk_start + 4, data_size + 4);
  put_u32(out, crc);
}

std::size_t start_chunk(std::string& out, const char (&type)[5]) {
  const std::size_t start = out.size();
  put_u32(out, 0);
  out.append(type, 4);
  return start;
}

enum class Deflater { Levelled, Zlib };

// Unfiltered screen samples: libdeflate's lazy parser takes the short matches between anti-aliased
// glyphs, which cost more than their literals. zlib told to drop matches under 6 bytes
// (Z_FILTERED) and to keep looking for a longer one after any match (max_lazy 258) gives 3.3 %
// less on the grey reference frame (112,620 bytes against 116,469) in about 14 ms, where
// libdeflate needs level 10 and 60 ms for that. Chains of 256 take 1.5x the time for no gain; of
// 64, 0.3 % larger output for 20 % less time.
Compressed compress_zlib(const Buffer& in, const PngRaster& raster) {
  z_stream z{};
  if (deflateInit2(&z, 6, Z_DEFLATED, 15, 9, Z_FILTERED) != Z_OK) {
    throw ImageError("cannot start the PNG compressor (zlib)");
  }
  deflateTune(&z, 4, 258, 258, 128);
  return deflate_whole(z, in, raster);
}

std::string encode_raster(const PngRaster& raster, RowFilter filter, Deflater deflater, int level) {
  const Buffer scanlines = filter_rows(raster, filter);
  const Compressed compressed = deflater == Deflater::Zlib
                                    ? compress_zlib(scanlines, raster)
                                    : compress_levelled(scanlines, level, raster);
  if (compressed.size == 0) throw ImageError("PNG compression failed");

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

  png.reserve(png.size() + compressed.size + 24);
  chunk = start_chunk(png, "IDAT");
  png.append(reinterpret_cast<const char*>(compressed.data.data.get()), compressed.size);
  finish_chunk(png, chunk);

  chunk = start_chunk(png, "IEND");
  finish_chunk(png, chunk);
  return png;
}

struct Candidate {
  const PngRaster* raster;
  RowFilter filter;
  Deflater deflater;
};

// Encodes every candidate on two threads (the zlib one takes as long as the others together) and
// keeps the smallest; on equal sizes the earlier one, so the bytes do not depend on the timing.
std::string smallest_of(const std::vector<Candidate>& candidates, int level) {
  std::vector<std::string> pngs(candidates.size());
  std::vector<std::exception_ptr> errors(candidates.size());
  std::atomic<std::size_t> next{0};
  const auto work = [&] {
    for (std::size_t i = next++; i < candidates.size(); i = next++) {
      try {
        const Candidate& c = candidates[i];
        pngs[i] = encode_raster(*c.raster, c.filter, c.deflater, level);
      } catch (...) {
        errors[i] = std::current_exception();
      }
    }
  };
  std::thread helper;
  if (candidates.size() > 1) {
    try {
      helper = std::thread(work);
    } catch (const std::system_error&) {
      // No thread to be had: this one does all the work.
    }
  }
  work();
  if (helper.joinable()) helper.join();
  std::size_t best = 0;
  for (std::size_t i = 0; i < candidates.size(); ++i) {
    if (errors[i]) std::rethrow_exception(errors[i]);
    if (pngs[i].size() < pngs[best].size()) best = i;
  }
  return std::move(pngs[best]);
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
  const PngRaster rgb = rgb_raster(image);
  if (!settings.reduce_colours) {
    return encode_raster(rgb, settings.filter, Deflater::Levelled, settings.level);
  }
  const std::vector<PngRaster> reduced = reduced_rasters(image);
  std::vector<Candidate> candidates;
  for (const PngRaster& raster : reduced) {
    // On a desktop deflate finds long repeats in the unfiltered samples, which filtering breaks
    // up; on gradients the filters win, as they do on RGB. The slowest first, so that it starts
    // at once on the second thread.
    candidates.push_back({&raster, RowFilter::None, Deflater::Zlib});
    candidates.push_back({&raster, RowFilter::None, Deflater::Levelled});
    if (settings.filter != RowFilter::None) {
      candidates.push_back({&raster, settings.filter, Deflater::Levelled});
    }
  }
  // Greyscale holds the same samples as RGB once instead of three times: RGB never wins then.
  const bool grey = !reduced.empty() && reduced.back().colour == PngColour::Grey;
  if (!grey) candidates.push_back({&rgb, settings.filter, Deflater::Levelled});
  return smallest_of(candidates, settings.level);
}

std::string encode_png(const RgbImage& image, PngEffort effort) {
  return encode_png(image, png_settings(effort));
}

}  // namespace orvane::pc::image
