#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <random>
#include <string>
#include <vector>

#include "image/image.hpp"
#include "image/png_settings.hpp"
#include "image_test_support.hpp"
#include "orvane/common/file_io.hpp"

namespace orvane::pc::image {
namespace {

using testing::TempDir;

// Every effort and every filter choice must round-trip exactly through an independent decoder.
void expect_round_trip(const RgbImage& image, const std::string& what) {
  std::vector<PngSettings> all = {png_settings(PngEffort::Fast), png_settings(PngEffort::Smallest)};
  for (auto filter : {RowFilter::None, RowFilter::Sub, RowFilter::Up, RowFilter::Average,
                      RowFilter::Paeth, RowFilter::MinSumAbs, RowFilter::MinEntropy}) {
    all.push_back({filter, 1});
  }
  for (const auto& settings : all) {
    const std::string png = encode_png(image, settings);
    const RgbImage back = decode_png(png);
    EXPECT_EQ(back.width, image.width) << what;
    EXPECT_EQ(back.height, image.height) << what;
    EXPECT_TRUE(back.pixels == image.pixels)
        << what << ": filter " << static_cast<int>(settings.filter) << " level " << settings.level;
  }
}

TEST(ImagePng, ReferenceFramesRoundTripExactly) {
  for (const char* frame : {"plain-desktop-1920x1080.png", "photo-desktop-1920x1080.png"}) {
    const RgbImage image = read_png_file(testing::frame_path(frame));
    ASSERT_EQ(image.width, 1920);
    ASSERT_EQ(image.height, 1080);
    expect_round_trip(resize_bicubic(image, 1429, 804), frame);
  }
}

TEST(ImagePng, OddSizesRoundTripExactly) {
  expect_round_trip(testing::random_image(1, 1, 1), "1x1");
  expect_round_trip(testing::random_image(3, 7, 2), "width 3");
  expect_round_trip(testing::random_image(1, 300, 3), "tall thin");
  expect_round_trip(testing::random_image(257, 2, 4), "wide flat");
  // Smooth gradients make the predicting filters win, including Paeth on every branch.
  RgbImage gradient{64, 48, {}};
  for (int y = 0; y < gradient.height; ++y) {
    for (int x = 0; x < gradient.width; ++x) {
      gradient.pixels.push_back(static_cast<std::uint8_t>(x * 4));
      gradient.pixels.push_back(static_cast<std::uint8_t>(y * 5 + x));
      gradient.pixels.push_back(static_cast<std::uint8_t>(255 - x * y / 8));
    }
  }
  expect_round_trip(gradient, "gradient");
}

// Noise drawn from `colours` (as 0xRRGGBB), each of which appears: no filter or palette order
// makes it compress better than its fewest bits per pixel.
RgbImage image_of_colours(int width, int height, const std::vector<std::uint32_t>& colours) {
  RgbImage image{width, height, {}};
  std::mt19937 gen(static_cast<std::uint32_t>(colours.size()));
  for (int i = 0; i < width * height; ++i) {
    const std::uint32_t c =
        colours[i < static_cast<int>(colours.size()) ? i : gen() % colours.size()];
    image.pixels.insert(image.pixels.end(),
                        {static_cast<std::uint8_t>(c >> 16), static_cast<std::uint8_t>(c >> 8),
                         static_cast<std::uint8_t>(c)});
  }
  return image;
}

std::vector<std::uint32_t> greys(std::initializer_list<int> levels) {
  std::vector<std::uint32_t> out;
  for (const int v : levels) out.push_back(static_cast<std::uint32_t>(v) * 0x010101);
  return out;
}

std::vector<std::uint32_t> distinct_colours(int n) {
  std::vector<std::uint32_t> out;
  for (int i = 0; i < n; ++i) out.push_back(static_cast<std::uint32_t>(i) * 0x9E3779 & 0xffffff);
  return out;
}

// The model's PNG takes the colour type and depth that hold the pixels in the fewest bits, and
// still decodes (with libspng, which shares no code with the encoder) to exactly the same pixels.
TEST(ImagePng, SmallestPicksTheColourTypeFromThePixelsAndRoundTripsExactly) {
  struct Case {
    std::string what;
    RgbImage image;
    int colour_type;  // as stored in the header: 0 grey, 2 RGB, 3 palette; -1 whichever is smaller
    int bit_depth;
  };
  const RgbImage plain =
      resize_bicubic(read_png_file(testing::frame_path("plain-desktop-1920x1080.png")), 1429, 804);
  const RgbImage photo =
      resize_bicubic(read_png_file(testing::frame_path("photo-desktop-1920x1080.png")), 1429, 804);
  std::vector<std::uint32_t> all_greys;
  for (int v = 0; v < 256; ++v) all_greys.push_back(static_cast<std::uint32_t>(v) * 0x010101);
  const std::vector<Case> cases = {
      {"plain frame", plain, 0, 8},
      {"photo frame", photo, 2, 8},
      {"256 greys", image_of_colours(64, 40, all_greys), 0, 8},
      {"black and white", image_of_colours(64, 40, greys({0, 255})), 0, 1},
      {"greys on a 2-bit scale", image_of_colours(64, 40, greys({0, 85, 170, 255})), 0, 2},
      {"greys on a 4-bit scale", image_of_colours(64, 40, greys({17, 34, 238, 136, 0})), 0, 4},
      {"3 arbitrary greys", image_of_colours(64, 40, greys({3, 100, 201})), 3, 2},
      {"2 colours", image_of_colours(64, 40, distinct_colours(2)), 3, 1},
      {"5 colours", image_of_colours(64, 40, distinct_colours(5)), 3, 4},
      {"17 colours", image_of_colours(64, 40, distinct_colours(17)), 3, 8},
      {"256 colours", image_of_colours(64, 40, distinct_colours(256)), 3, 8},
      {"257 colours", image_of_colours(64, 40, distinct_colours(257)), 2, 8},
      {"1x1 grey", image_of_colours(1, 1, greys({77})), 0, 8},
      {"1x1 white", image_of_colours(1, 1, greys({255})), 0, 1},
      {"1x1 colour", testing::random_image(1, 1, 9), -1, 8},
      {"odd width, 1 bit", image_of_colours(9, 3, greys({0, 255})), 0, 1},
      {"odd width, 4-bit palette", image_of_colours(61, 3, distinct_colours(9)), -1, -1},
      {"random noise", testing::random_image(40, 30, 8), 2, 8},
  };
  const PngSettings rgb_only{png_settings(PngEffort::Smallest).filter,
                             png_settings(PngEffort::Smallest).level, false};
  for (const auto& c : cases) {
    const std::string png = encode_png(c.image, PngEffort::Smallest);
    ASSERT_GT(png.size(), 26u) << c.what;
    if (c.colour_type >= 0) {
      EXPECT_EQ(static_cast<int>(png[25]), c.colour_type) << c.what;
    }
    if (c.bit_depth >= 0) {
      EXPECT_EQ(static_cast<int>(png[24]), c.bit_depth) << c.what;
    }
    const RgbImage back = decode_png(png);
    EXPECT_EQ(back.width, c.image.width) << c.what;
    EXPECT_EQ(back.height, c.image.height) << c.what;
    EXPECT_TRUE(back.pixels == c.image.pixels) << c.what;
    // The choice is never worse than plain RGB with the same filters and level.
    EXPECT_LE(png.size(), encode_png(c.image, rgb_only).size()) << c.what;
  }
}

TEST(ImagePng, SmallestIsNotLargerThanFastOnAScreen) {
  const RgbImage image =
      resize_bicubic(read_png_file(testing::frame_path("plain-desktop-1920x1080.png")), 1429, 804);
  EXPECT_LE(encode_png(image, PngEffort::Smallest).size(),
            encode_png(image, PngEffort::Fast).size());
}

// Its candidates are encoded on two threads: which one finishes first must not change the bytes.
TEST(ImagePng, SmallestGivesTheSameBytesOnEveryEncode) {
  const RgbImage image =
      resize_bicubic(read_png_file(testing::frame_path("plain-desktop-1920x1080.png")), 1429, 804);
  const std::string first = encode_png(image, PngEffort::Smallest);
  for (int i = 0; i < 4; ++i) {
    EXPECT_TRUE(encode_png(image, PngEffort::Smallest) == first) << "encode " << i + 2;
  }
}

TEST(ImagePng, RefusesAnImageWhosePixelsDoNotMatchItsSize) {
  RgbImage image = testing::random_image(4, 4, 5);
  image.pixels.resize(10);
  EXPECT_THROW(encode_png(image, PngEffort::Fast), ImageError);
  EXPECT_THROW(encode_png(RgbImage{}, PngEffort::Smallest), ImageError);
}

TEST(ImagePng, DecodesEveryColourTypeToRgb) {
  TempDir dir;
  // Each PNG comes with its RGB conversion by the reference library, as raw bytes.
  const std::string script = R"(from PIL import Image
import random
random.seed(7)
src = Image.frombytes('RGB', (23, 9), bytes(random.randrange(256) for _ in range(23 * 9 * 3)))
modes = {'grey': src.convert('L'), 'grey_alpha': src.convert('LA'), 'rgba': src.convert('RGBA'),
         'palette': src.convert('P', palette=Image.ADAPTIVE, colors=50), 'bilevel': src.convert('1'),
         'palette_4bit': src.convert('P', palette=Image.ADAPTIVE, colors=16)}
for name, im in modes.items():
    kw = {'bits': 4} if name == 'palette_4bit' else {}
    im.save(')" + (dir / "").string() +
                             R"(' + name + '.png', **kw)
    open(')" + (dir / "").string() +
                             R"(' + name + '.rgb', 'wb').write(im.convert('RGB').tobytes())
grey16 = Image.new('I;16', (5, 3))
grey16.putdata([0, 1, 255, 256, 257, 4000, 32767, 32768, 65280, 65535, 100, 200, 300, 400, 500])
grey16.save(')" + (dir / "grey16.png").string() +
                             R"(')
)";
  ASSERT_TRUE(testing::run_reference_python(dir, script));
  for (const char* name : {"grey", "grey_alpha", "rgba", "palette", "bilevel", "palette_4bit"}) {
    const RgbImage image = read_png_file(dir / (std::string(name) + ".png"));
    const std::string expected = common::read_file(dir / (std::string(name) + ".rgb"));
    EXPECT_EQ(image.width, 23) << name;
    EXPECT_EQ(image.height, 9) << name;
    EXPECT_EQ(std::string(image.pixels.begin(), image.pixels.end()), expected) << name;
  }
  // 16-bit samples come down to the nearest 8-bit level, the same on all three channels.
  const RgbImage grey16 = read_png_file(dir / "grey16.png");
  ASSERT_EQ(grey16.pixels.size(), 5u * 3 * 3);
  const int samples[] = {0,     1,     255, 256, 257, 4000, 32767, 32768,
                         65280, 65535, 100, 200, 300, 400,  500};
  for (int i = 0; i < 15; ++i) {
    const double exact = samples[i] / 257.0;
    for (int c = 0; c < 3; ++c) {
      EXPECT_NEAR(grey16.pixels[i * 3 + c], exact, 1.0) << "sample " << samples[i];
    }
  }
}

TEST(ImagePng, CorruptOrMissingDataIsAnImageErrorThatSaysWhy) {
  TempDir dir;
  const RgbImage image = testing::random_image(8, 8, 6);
  const std::string png = encode_png(image, PngEffort::Fast);

  EXPECT_THROW(decode_png(""), ImageError);
  EXPECT_THROW(decode_png("GIF89a not a png at all"), ImageError);
  EXPECT_THROW(decode_png(png.substr(0, png.size() / 2)), ImageError);  // cut short
  std::string flipped = png;
  flipped[flipped.size() - 20] ^= 0x55;  // inside the compressed data: the CRC no longer matches
  EXPECT_THROW(decode_png(flipped), ImageError);
  // A header that claims an enormous image is refused before anything is allocated.
  std::string huge = png;
  huge[16] = 0x7f;  // width 0x7f000008
  EXPECT_THROW(decode_png(huge), ImageError);

  try {
    read_png_file(dir / "missing.png");
    ADD_FAILURE() << "no error for a missing file";
  } catch (const ImageError& e) {
    EXPECT_EQ(std::string(e.what()),
              "[Errno 2] No such file or directory: '" + (dir / "missing.png").string() + "'");
  }
  common::write_file_atomic(dir / "text.png", "hello");
  try {
    read_png_file(dir / "text.png");
    ADD_FAILURE() << "no error for a file that is not a PNG";
  } catch (const ImageError& e) {
    EXPECT_NE(std::string(e.what()).find((dir / "text.png").string()), std::string::npos)
        << e.what();
  }
}

}  // namespace
}  // namespace orvane::pc::image
