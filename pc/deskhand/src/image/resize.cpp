// Bicubic resampling that reproduces the reference imaging library bit for bit: the same
// coefficients (computed in double, then rounded to fixed point), the same pass order and the
// same rounding between passes, so that text in a screenshot looks exactly as the model expects.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "image/image.hpp"

// Hot loops are built for AVX2 as well, chosen at run time where the processor has it. The choice
// is an ifunc, which PE lacks: Windows builds keep the baseline (SSE2) loops.
#ifdef _WIN32
#define DESKHAND_AVX2_CLONES
#else
#define DESKHAND_AVX2_CLONES [[gnu::target_clones("avx2", "default")]]
#endif

namespace orvane::pc::image {
namespace {

// 8-bit samples times 22-bit coefficients leave two bits of headroom in an int32 accumulator.
constexpr int PRECISION_BITS = 32 - 8 - 2;
constexpr int ROUNDING = 1 << (PRECISION_BITS - 1);

double bicubic_filter(double x) {
  constexpr double a = -0.5;
  if (x < 0.0) x = -x;
  if (x < 1.0) return ((a + 2.0) * x - (a + 3.0)) * x * x + 1;
  if (x < 2.0) return (((x - 5) * x + 8) * x - 4) * a;
  return 0.0;
}
constexpr double BICUBIC_SUPPORT = 2.0;

// For every output position: the first input sample and `taps` fixed-point weights. Every
// position has the same number of taps (missing ones are zero weights), and the window is moved
// left where it would pass the end of the input, so the inner loops need no bounds tests.
struct Coefficients {
  int taps = 0;
  std::vector<int> first;
  std::vector<std::int32_t> weights;  // out_size * taps
};

Coefficients compute_coefficients(int in_size, int out_size) {
  // The expressions and their order follow the reference so that every double rounds alike.
  const double scale = static_cast<double>(static_cast<float>(in_size)) / out_size;
  const double filterscale = std::max(scale, 1.0);
  const double support = BICUBIC_SUPPORT * filterscale;
  const double ss = 1.0 / filterscale;

  std::vector<int> mins(out_size);
  std::vector<int> counts(out_size);
  std::vector<std::vector<double>> weights(out_size);
  int taps = 1;
  for (int xx = 0; xx < out_size; ++xx) {
    const double center = (xx + 0.5) * scale;
    int xmin = static_cast<int>(center - support + 0.5);
    if (xmin < 0) xmin = 0;
    int xmax = static_cast<int>(center + support + 0.5);
    if (xmax > in_size) xmax = in_size;
    xmax -= xmin;
    auto& k = weights[xx];
    k.resize(std::max(xmax, 0));
    double ww = 0.0;
    for (int x = 0; x < xmax; ++x) {
      const double w = bicubic_filter((x + xmin - center + 0.5) * ss);
      k[x] = w;
      ww += w;
    }
    if (ww != 0.0) {
      for (auto& w : k) w /= ww;
    }
    mins[xx] = xmin;
    counts[xx] = std::max(xmax, 0);
    taps = std::max(taps, counts[xx]);
  }
  taps = std::min(taps, in_size);

  Coefficients result;
  result.taps = taps;
  result.first.resize(out_size);
  result.weights.assign(static_cast<std::size_t>(out_size) * taps, 0);
  for (int xx = 0; xx < out_size; ++xx) {
    const int first = std::min(mins[xx], in_size - taps);
    const int shift = mins[xx] - first;
    result.first[xx] = first;
    std::int32_t* out = &result.weights[static_cast<std::size_t>(xx) * taps];
    for (int x = 0; x < counts[xx]; ++x) {
      const double w = weights[xx][x] * (1 << PRECISION_BITS);
      out[x + shift] = static_cast<std::int32_t>(w < 0 ? -0.5 + w : 0.5 + w);
    }
  }
  return result;
}

// Branch-free so that the loops around it vectorise; the shift is arithmetic, so negative sums
// give 0 as they should.
inline std::uint8_t clip8(std::int32_t v) {
  return static_cast<std::uint8_t>(std::clamp(v >> PRECISION_BITS, 0, 255));
}

// The horizontal pass works on blocks of rows, interleaved so that one source column of the
// block (BLOCK_ROWS pixels, three channels each) is contiguous: each tap is then a multiply-add
// over LANES neighbouring values, which the compiler vectorises; along a single row the taps of
// neighbouring outputs overlap and it would stay scalar.
constexpr int BLOCK_ROWS = 16;
constexpr int LANES = BLOCK_ROWS * 3;

template <int Taps>
[[gnu::always_inline]] inline void horizontal_block_taps(const std::uint8_t* columns,
                                                         std::uint8_t* out, int out_width,
                                                         const Coefficients& c, int runtime_taps) {
  const int taps = Taps > 0 ? Taps : runtime_taps;
  const std::int32_t* k = c.weights.data();
  for (int xx = 0; xx < out_width; ++xx, k += taps) {
    const std::uint8_t* p = columns + static_cast<std::ptrdiff_t>(c.first[xx]) * LANES;
    std::int32_t acc[LANES];
    for (int j = 0; j < LANES; ++j) acc[j] = ROUNDING;
    for (int t = 0; t < taps; ++t) {
      const std::int32_t w = k[t];
      for (int j = 0; j < LANES; ++j) acc[j] += p[t * LANES + j] * w;
    }
    std::uint8_t* o = out + static_cast<std::ptrdiff_t>(xx) * LANES;
    for (int j = 0; j < LANES; ++j) o[j] = clip8(acc[j]);
  }
}

DESKHAND_AVX2_CLONES void horizontal_block(const std::uint8_t* columns, std::uint8_t* out,
                                           int out_width, const Coefficients& c) {
  switch (c.taps) {
    case 1:
      return horizontal_block_taps<1>(columns, out, out_width, c, 1);
    case 2:
      return horizontal_block_taps<2>(columns, out, out_width, c, 2);
    case 3:
      return horizontal_block_taps<3>(columns, out, out_width, c, 3);
    case 4:
      return horizontal_block_taps<4>(columns, out, out_width, c, 4);
    case 5:
      return horizontal_block_taps<5>(columns, out, out_width, c, 5);
    case 6:
      return horizontal_block_taps<6>(columns, out, out_width, c, 6);
    case 7:
      return horizontal_block_taps<7>(columns, out, out_width, c, 7);
    case 8:
      return horizontal_block_taps<8>(columns, out, out_width, c, 8);
    default:
      return horizontal_block_taps<0>(columns, out, out_width, c, c.taps);
  }
}

// Pixel copies move four bytes where three are due: the extra byte lands where the next copy
// writes anyway. The last pixel of a row is copied exactly, so nothing passes a buffer's end.
inline void copy_pixel_wide(std::uint8_t* to, const std::uint8_t* from) {
  std::memcpy(to, from, 4);
}
inline void copy_pixel(std::uint8_t* to, const std::uint8_t* from) {
  std::memcpy(to, from, 3);
}

// Rows of a block into columns: columns[x * LANES + r * 3 + channel]. Rows past `rows` keep
// stale values; their results are never copied out.
void interleave(const std::uint8_t* in, std::size_t in_stride, int rows, int width,
                std::uint8_t* columns) {
  for (int x = 0; x + 1 < width; ++x) {
    std::uint8_t* col = columns + static_cast<std::ptrdiff_t>(x) * LANES;
    for (int r = 0; r < rows; ++r) copy_pixel_wide(col + r * 3, in + r * in_stride + x * 3);
  }
  std::uint8_t* col = columns + static_cast<std::ptrdiff_t>(width - 1) * LANES;
  for (int r = 0; r < rows; ++r) copy_pixel(col + r * 3, in + r * in_stride + (width - 1) * 3);
}

// One row of a block's results (at `block`, LANES bytes apart) into a plain row.
void deinterleave_row(const std::uint8_t* block, int width, std::uint8_t* out) {
  for (int xx = 0; xx + 1 < width; ++xx) copy_pixel_wide(out + xx * 3, block + xx * LANES);
  copy_pixel(out + (width - 1) * 3, block + static_cast<std::ptrdiff_t>(width - 1) * LANES);
}

// Resamples blocks of source rows to out_width; each result row goes where the caller says.
class HorizontalPass {
 public:
  HorizontalPass(const RgbImage& src, int out_width)
      : src_(src),
        out_width_(out_width),
        c_(compute_coefficients(src.width, out_width)),
        columns_(static_cast<std::size_t>(src.width) * LANES, 0),
        block_out_(static_cast<std::size_t>(out_width) * LANES) {}

  // Rows [y0, y0 + rows), rows <= BLOCK_ROWS; destination(y) gives the output row for source y.
  template <class Destination>
  void run(int y0, int rows, Destination destination) {
    const std::size_t in_stride = static_cast<std::size_t>(src_.width) * 3;
    interleave(src_.pixels.data() + y0 * in_stride, in_stride, rows, src_.width, columns_.data());
    horizontal_block(columns_.data(), block_out_.data(), out_width_, c_);
    for (int r = 0; r < rows; ++r) {
      deinterleave_row(block_out_.data() + r * 3, out_width_, destination(y0 + r));
    }
  }

 private:
  const RgbImage& src_;
  int out_width_;
  Coefficients c_;
  std::vector<std::uint8_t> columns_;
  std::vector<std::uint8_t> block_out_;
};

DESKHAND_AVX2_CLONES void vertical_row(const std::uint8_t* const* rows, std::size_t stride,
                                       const std::int32_t* k, int taps, std::int32_t* acc,
                                       std::uint8_t* out) {
  for (std::size_t i = 0; i < stride; ++i) acc[i] = ROUNDING;
  for (int t = 0; t < taps; ++t) {
    const std::int32_t w = k[t];
    if (w == 0) continue;
    const std::uint8_t* in = rows[t];
    for (std::size_t i = 0; i < stride; ++i) acc[i] += in[i] * w;
  }
  for (std::size_t i = 0; i < stride; ++i) out[i] = clip8(acc[i]);
}

void check_image(const RgbImage& image) {
  if (image.width <= 0 || image.height <= 0 ||
      image.pixels.size() != static_cast<std::size_t>(image.width) * image.height * 3) {
    throw ImageError("invalid image: " + std::to_string(image.width) + "x" +
                     std::to_string(image.height) + " with " + std::to_string(image.pixels.size()) +
                     " bytes of pixels");
  }
}

}  // namespace

RgbImage resize_bicubic(const RgbImage& source, int width, int height) {
  check_image(source);
  // Far beyond any screen; refused rather than attempted.
  constexpr std::size_t MAX_PIXELS = std::size_t{1} << 28;
  if (width <= 0 || height <= 0 || static_cast<std::size_t>(width) * height > MAX_PIXELS) {
    throw ImageError("invalid target size " + std::to_string(width) + "x" + std::to_string(height));
  }
  const bool need_horizontal = width != source.width;
  const bool need_vertical = height != source.height;
  if (!need_horizontal && !need_vertical) return source;

  RgbImage out{width, height, {}};
  const std::size_t stride = static_cast<std::size_t>(width) * 3;
  out.pixels.resize(stride * height);
  const auto output_row = [&](int y) { return out.pixels.data() + y * stride; };
  if (!need_vertical) {
    HorizontalPass horizontal(source, width);
    for (int y0 = 0; y0 < height; y0 += BLOCK_ROWS) {
      horizontal.run(y0, std::min(BLOCK_ROWS, height - y0), output_row);
    }
    return out;
  }

  const Coefficients vertical = compute_coefficients(source.height, height);
  std::vector<std::int32_t> acc(stride);
  std::vector<const std::uint8_t*> rows(vertical.taps);
  if (!need_horizontal) {
    for (int yy = 0; yy < height; ++yy) {
      for (int t = 0; t < vertical.taps; ++t)
        rows[t] = source.pixels.data() + (vertical.first[yy] + t) * stride;
      vertical_row(rows.data(), stride,
                   &vertical.weights[static_cast<std::size_t>(yy) * vertical.taps], vertical.taps,
                   acc.data(), output_row(yy));
    }
    return out;
  }

  // Both passes, interleaved: horizontal results go to a ring of rows just large enough for the
  // vertical taps and one block ahead, which stays in cache instead of a whole intermediate image.
  // Rows are overwritten only once every later output row starts below them.
  HorizontalPass horizontal(source, width);
  const int row_begin = vertical.first.front();
  const int row_end = vertical.first.back() + vertical.taps;
  const int capacity = vertical.taps + BLOCK_ROWS;
  std::unique_ptr<std::uint8_t[]> ring(new std::uint8_t[stride * capacity]);
  const auto ring_row = [&](int y) { return ring.get() + ((y - row_begin) % capacity) * stride; };
  int produced = row_begin;
  for (int yy = 0; yy < height; ++yy) {
    const int first = vertical.first[yy];
    while (produced < first + vertical.taps) {
      const int n = std::min(BLOCK_ROWS, row_end - produced);
      horizontal.run(produced, n, ring_row);
      produced += n;
    }
    for (int t = 0; t < vertical.taps; ++t) rows[t] = ring_row(first + t);
    vertical_row(rows.data(), stride,
                 &vertical.weights[static_cast<std::size_t>(yy) * vertical.taps], vertical.taps,
                 acc.data(), output_row(yy));
  }
  return out;
}

}  // namespace orvane::pc::image
