// Differential tests of the bicubic resize against the reference imaging library itself.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "image/image.hpp"
#include "image_test_support.hpp"
#include "orvane/common/file_io.hpp"

namespace orvane::pc::image {
namespace {

using testing::TempDir;

struct ResizeCase {
  std::string name;
  RgbImage source;
  int width;
  int height;
};

// Resizes every case with the reference library (raw RGB in, raw RGB out) in one interpreter run.
std::vector<RgbImage> reference_resize(const TempDir& dir, const std::vector<ResizeCase>& cases) {
  std::string script = "from PIL import Image\n";
  for (const auto& c : cases) {
    const auto in = dir / (c.name + ".in.rgb");
    common::write_file_atomic(
        in, std::string_view(reinterpret_cast<const char*>(c.source.pixels.data()),
                             c.source.pixels.size()));
    script += "im = Image.frombytes('RGB', (" + std::to_string(c.source.width) + ", " +
              std::to_string(c.source.height) + "), open('" + in.string() + "', 'rb').read())\n";
    script += "open('" + (dir / (c.name + ".out.rgb")).string() + "', 'wb').write(im.resize((" +
              std::to_string(c.width) + ", " + std::to_string(c.height) +
              "), Image.BICUBIC).tobytes())\n";
  }
  std::vector<RgbImage> out;
  if (!testing::run_reference_python(dir, script)) return out;
  for (const auto& c : cases) {
    const std::string bytes = common::read_file(dir / (c.name + ".out.rgb"));
    out.push_back(RgbImage{c.width, c.height, {bytes.begin(), bytes.end()}});
  }
  return out;
}

void expect_same_as_reference(const std::vector<ResizeCase>& cases) {
  TempDir dir;
  const auto expected = reference_resize(dir, cases);
  ASSERT_EQ(expected.size(), cases.size());
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const auto& c = cases[i];
    const RgbImage ours = resize_bicubic(c.source, c.width, c.height);
    EXPECT_EQ(ours.width, c.width) << c.name;
    EXPECT_EQ(ours.height, c.height) << c.name;
    // The bound the model's text reading relies on; the aim (and today's result) is exact.
    EXPECT_LE(testing::mean_abs_difference(ours, expected[i]), 0.5) << c.name;
    EXPECT_TRUE(ours.pixels == expected[i].pixels) << c.name << ": not identical";
  }
}

TEST(ImageResize, ScreenFramesScaledToApiSizeMatchTheReferencePixelForPixel) {
  std::vector<ResizeCase> cases;
  for (const char* frame : {"plain-desktop-1920x1080.png", "photo-desktop-1920x1080.png"}) {
    cases.push_back({frame, read_png_file(testing::frame_path(frame)), 1429, 804});
  }
  expect_same_as_reference(cases);
}

TEST(ImageResize, OddSizesUpAndDownMatchTheReference) {
  // Noise is the hardest input for rounding and clipping: every coefficient matters.
  expect_same_as_reference({
      {"down_both", testing::random_image(97, 61, 1), 40, 23},
      {"up_both", testing::random_image(13, 9, 2), 50, 31},
      {"up_one_down_other", testing::random_image(40, 40, 3), 7, 113},
      {"only_width", testing::random_image(64, 5, 4), 21, 5},
      {"only_height", testing::random_image(5, 64, 5), 5, 17},
      {"single_pixel_source", testing::random_image(1, 1, 6), 4, 3},
      {"to_single_pixel", testing::random_image(31, 17, 7), 1, 1},
      {"tall_thin", testing::random_image(3, 500, 8), 2, 97},
      {"strong_reduction", testing::random_image(400, 300, 9), 9, 7},
  });
}

TEST(ImageResize, SameSizeReturnsTheImageUnchanged) {
  const RgbImage source = testing::random_image(17, 11, 10);
  const RgbImage same = resize_bicubic(source, 17, 11);
  EXPECT_EQ(same.pixels, source.pixels);
}

TEST(ImageResize, RefusesEmptyTargetsAndInconsistentImages) {
  const RgbImage source = testing::random_image(4, 4, 11);
  EXPECT_THROW(resize_bicubic(source, 0, 4), ImageError);
  EXPECT_THROW(resize_bicubic(source, 4, -1), ImageError);
  EXPECT_THROW(resize_bicubic(source, 1 << 20, 1 << 20), ImageError);
  RgbImage short_pixels = source;
  short_pixels.pixels.pop_back();
  EXPECT_THROW(resize_bicubic(short_pixels, 2, 2), ImageError);
  EXPECT_THROW(resize_bicubic(RgbImage{}, 2, 2), ImageError);
}

}  // namespace
}  // namespace orvane::pc::image
