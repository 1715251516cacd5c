#include "image/png_raster.hpp"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace orvane::pc::image {
namespace {

constexpr std::size_t MAX_PALETTE = 256;

std::size_t pixel_count(const RgbImage& image) {
  return static_cast<std::size_t>(image.width) * image.height;
}

// Checked a block at a time: the inner loop has no early exit, so that it vectorises, and a
// colourful image is still rejected within its first block.
bool is_grey(const RgbImage& image) {
  constexpr std::size_t BLOCK = 4096;
  const std::uint8_t* p = image.pixels.data();
  const std::size_t n = pixel_count(image);
  for (std::size_t start = 0; start < n; start += BLOCK) {
    const std::size_t end = std::min(n, start + BLOCK);
    unsigned differ = 0;
    for (std::size_t i = start; i < end; ++i) {
      differ |= static_cast<unsigned>(p[3 * i] ^ p[3 * i + 1]) | (p[3 * i] ^ p[3 * i + 2]);
    }
    if (differ != 0) return false;
  }
  return true;
}

// The fewest bits per sample that hold every level used: a depth d stores the levels
// k * 255 / (2^d - 1).
int grey_depth(const std::array<bool, 256>& used) {
  for (const int depth : {1, 2, 4}) {
    const int step = 255 / ((1 << depth) - 1);
    bool fits = true;
    for (int v = 0; v < 256 && fits; ++v) fits = !used[v] || v % step == 0;
    if (fits) return depth;
  }
  return 8;
}

int index_depth(std::size_t colours) {
  if (colours <= 2) return 1;
  if (colours <= 4) return 2;
  if (colours <= 16) return 4;
  return 8;
}

// One value per pixel, below 2^depth, packed into rows with the leftmost pixel in the high bits.
PngRaster pack(const RgbImage& image, PngColour colour, int depth,
               std::vector<std::uint8_t> values) {
  PngRaster raster;
  raster.colour = colour;
  raster.bit_depth = depth;
  raster.width = image.width;
  raster.height = image.height;
  raster.filter_stride = 1;
  raster.row_bytes = (static_cast<std::size_t>(image.width) * depth + 7) / 8;
  if (depth == 8) {
    raster.packed = std::move(values);
    return raster;
  }
  raster.packed.assign(raster.row_bytes * image.height, 0);
  const int per_byte = 8 / depth;
  for (int y = 0; y < image.height; ++y) {
    const std::uint8_t* in = values.data() + static_cast<std::size_t>(y) * image.width;
    std::uint8_t* out = raster.packed.data() + y * raster.row_bytes;
    for (int x = 0; x < image.width; ++x) {
      const int shift = 8 - depth * (x % per_byte + 1);
      out[x / per_byte] = static_cast<std::uint8_t>(out[x / per_byte] | in[x] << shift);
    }
  }
  return raster;
}

// The distinct colours of an image that has few: an open-addressing table of 24-bit colours that
// gives up at the 257th.
class ColourTable {
 public:
  // False when the colour is new and the table is full.
  bool add(std::uint32_t rgb) {
    std::size_t slot = find(rgb);
    if (keys_[slot] != EMPTY) return true;
    if (colours_.size() == MAX_PALETTE) return false;
    keys_[slot] = rgb;
    colours_.push_back(rgb);
    return true;
  }
  // The palette, darkest first, so that similar colours get near indices; then each colour's
  // index in it.
  std::vector<std::uint32_t> sort() {
    std::sort(colours_.begin(), colours_.end(), [](std::uint32_t l, std::uint32_t r) {
      const auto key = [](std::uint32_t c) {
        const std::uint32_t luma = 299 * (c >> 16) + 587 * (c >> 8 & 0xff) + 114 * (c & 0xff);
        return std::uint64_t{luma} << 24 | c;
      };
      return key(l) < key(r);
    });
    for (std::size_t i = 0; i < colours_.size(); ++i) {
      index_[find(colours_[i])] = static_cast<std::uint8_t>(i);
    }
    return colours_;
  }
  std::uint8_t index(std::uint32_t rgb) const { return index_[find(rgb)]; }

 private:
  static constexpr std::uint32_t EMPTY = 0xffffffff;
  static constexpr std::size_t SLOTS = 1024;  // at most a quarter full: short probes
  std::size_t find(std::uint32_t rgb) const {
    std::size_t slot = (rgb * 0x9E3779B1u) >> 22;
    while (keys_[slot] != EMPTY && keys_[slot] != rgb) slot = (slot + 1) % SLOTS;
    return slot;
  }
  std::vector<std::uint32_t> keys_ = std::vector<std::uint32_t>(SLOTS, EMPTY);
  std::vector<std::uint8_t> index_ = std::vector<std::uint8_t>(SLOTS, 0);
  std::vector<std::uint32_t> colours_;
};

inline std::uint32_t rgb_at(const std::uint8_t* p) {
  return std::uint32_t{p[0]} << 16 | std::uint32_t{p[1]} << 8 | p[2];
}

std::optional<PngRaster> palette_raster(const RgbImage& image) {
  ColourTable table;
  const std::uint8_t* p = image.pixels.data();
  const std::size_t n = pixel_count(image);
  // Runs of one colour are the rule on a screen: only a change of colour costs a look-up.
  std::uint32_t last = rgb_at(p);
  if (!table.add(last)) return std::nullopt;
  for (std::size_t i = 1; i < n; ++i) {
    const std::uint32_t c = rgb_at(p + 3 * i);
    if (c != last && !table.add(c)) return std::nullopt;
    last = c;
  }
  const std::vector<std::uint32_t> colours = table.sort();
  std::vector<std::uint8_t> indices(n);
  last = rgb_at(p);
  std::uint8_t last_index = table.index(last);
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint32_t c = rgb_at(p + 3 * i);
    if (c != last) {
      last = c;
      last_index = table.index(c);
    }
    indices[i] = last_index;
  }
  PngRaster raster =
      pack(image, PngColour::Palette, index_depth(colours.size()), std::move(indices));
  for (const std::uint32_t c : colours) {
    raster.palette.push_back({static_cast<std::uint8_t>(c >> 16), static_cast<std::uint8_t>(c >> 8),
                              static_cast<std::uint8_t>(c)});
  }
  return raster;
}

}  // namespace

PngRaster rgb_raster(const RgbImage& image) {
  PngRaster raster;
  raster.width = image.width;
  raster.height = image.height;
  raster.row_bytes = static_cast<std::size_t>(image.width) * 3;
  raster.rgb = image.pixels.data();
  return raster;
}

std::vector<PngRaster> reduced_rasters(const RgbImage& image) {
  std::vector<PngRaster> rasters;
  if (!is_grey(image)) {
    if (auto palette = palette_raster(image)) rasters.push_back(std::move(*palette));
    return rasters;
  }
  const std::size_t n = pixel_count(image);
  std::vector<std::uint8_t> levels(n);
  std::array<bool, 256> used{};
  for (std::size_t i = 0; i < n; ++i) {
    levels[i] = image.pixels[3 * i];
    used[levels[i]] = true;
  }
  const int depth = grey_depth(used);
  const auto level_count = static_cast<std::size_t>(std::count(used.begin(), used.end(), true));
  // A palette at the same depth holds the same samples plus a table: only fewer bits pay.
  if (index_depth(level_count) < depth) {
    if (auto palette = palette_raster(image)) rasters.push_back(std::move(*palette));
  }
  if (depth < 8) {
    const int step = 255 / ((1 << depth) - 1);
    for (auto& v : levels) v = static_cast<std::uint8_t>(v / step);
  }
  rasters.push_back(pack(image, PngColour::Grey, depth, std::move(levels)));
  return rasters;
}

}  // namespace orvane::pc::image
