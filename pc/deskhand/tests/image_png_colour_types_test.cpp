// Decoding of the colour types our encoder never writes (alpha, 16-bit, palette transparency),
// from PNGs put together here, so that it runs where no reference library does.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "image/image.hpp"

namespace orvane::pc::image {
namespace {

void put_u32(std::string& out, std::uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>(v >> shift));
}

void put_chunk(std::string& png, const char* type, const std::string& data) {
  put_u32(png, static_cast<std::uint32_t>(data.size()));
  const std::string body = type + data;
  png += body;
  put_u32(png, static_cast<std::uint32_t>(
                   crc32(0, reinterpret_cast<const Bytef*>(body.data()), body.size())));
}

// A PNG of one row; `samples` are packed at `depth` bits, big-endian, after filter byte 0.
std::string one_row_png(int colour_type, int depth, int width, const std::vector<int>& samples,
                        const std::string& extra_chunks_type = "",
                        const std::string& extra_chunks = "", const std::string& palette = "") {
  std::string row(1, '\0');
  std::uint32_t bits = 0;
  int count = 0;
  for (int s : samples) {
    bits = (bits << depth) | static_cast<std::uint32_t>(s);
    count += depth;
    while (count >= 8) {
      row.push_back(static_cast<char>(bits >> (count - 8)));
      count -= 8;
    }
  }
  if (count > 0) row.push_back(static_cast<char>(bits << (8 - count)));
  uLongf size = compressBound(row.size());
  std::string idat(size, '\0');
  compress(reinterpret_cast<Bytef*>(idat.data()), &size, reinterpret_cast<const Bytef*>(row.data()),
           row.size());
  idat.resize(size);

  std::string png("\x89PNG\r\n\x1a\n", 8);
  std::string ihdr;
  put_u32(ihdr, static_cast<std::uint32_t>(width));
  put_u32(ihdr, 1);
  ihdr += {static_cast<char>(depth), static_cast<char>(colour_type), 0, 0, 0};
  put_chunk(png, "IHDR", ihdr);
  if (!palette.empty()) put_chunk(png, "PLTE", palette);
  if (!extra_chunks_type.empty()) put_chunk(png, extra_chunks_type.c_str(), extra_chunks);
  put_chunk(png, "IDAT", idat);
  put_chunk(png, "IEND", "");
  return png;
}

struct ColourCase {
  const char* name;
  std::string png;
  std::vector<int> rgb;  // expected, two pixels
  int tolerance;         // 16-bit samples may round either way to 8 bits
};

TEST(ImagePngColourTypes, DecodeToRgbWithAlphaDroppedNotApplied) {
  const std::string palette("\x10\x20\x30\xf0\xe0\xd0", 6);
  const std::vector<ColourCase> cases = {
      {"grey 1-bit", one_row_png(0, 1, 2, {1, 0}), {255, 255, 255, 0, 0, 0}, 0},
      {"grey 2-bit", one_row_png(0, 2, 2, {2, 1}), {170, 170, 170, 85, 85, 85}, 0},
      {"grey 16-bit",
       one_row_png(0, 16, 2, {0x1234, 0xffff}),
       {0x12, 0x12, 0x12, 255, 255, 255},
       1},
      {"grey alpha", one_row_png(4, 8, 2, {0x40, 0, 0xc0, 0x80}), {64, 64, 64, 192, 192, 192}, 0},
      {"rgba transparent",
       one_row_png(6, 8, 2, {200, 100, 50, 0, 1, 2, 3, 128}),
       {200, 100, 50, 1, 2, 3},
       0},
      {"rgb 16-bit",
       one_row_png(2, 16, 2, {0x1234, 0x5678, 0x9abc, 0, 0xffff, 0x8080}),
       {0x12, 0x56, 0x9a, 0, 255, 0x80},
       1},
      {"rgba 16-bit",
       one_row_png(6, 16, 2, {0xffff, 0, 0x4000, 0, 0x8080, 0x8080, 0x8080, 0xffff}),
       {255, 0, 0x40, 0x80, 0x80, 0x80},
       1},
      {"palette with transparency",
       one_row_png(3, 4, 2, {1, 0}, "tRNS", std::string(2, '\0'), palette),
       {0xf0, 0xe0, 0xd0, 0x10, 0x20, 0x30},
       0},
  };
  for (const auto& c : cases) {
    RgbImage image;
    try {
      image = decode_png(c.png);
    } catch (const ImageError& e) {
      ADD_FAILURE() << c.name << ": " << e.what();
      continue;
    }
    ASSERT_EQ(image.width, 2) << c.name;
    ASSERT_EQ(image.height, 1) << c.name;
    ASSERT_EQ(image.pixels.size(), c.rgb.size()) << c.name;
    for (std::size_t i = 0; i < c.rgb.size(); ++i) {
      EXPECT_LE(std::abs(image.pixels[i] - c.rgb[i]), c.tolerance) << c.name << " byte " << i;
    }
  }
}

}  // namespace
}  // namespace orvane::pc::image
