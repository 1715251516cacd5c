// The screenshot image path on the two reference frames: resize to the API size, PNG at both
// efforts (and every filter/level pair, to choose the efforts' settings), base64, and the whole
// pipeline with the atomic disk copy. scripts/bench-image runs the reference library beside it.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <map>
#include <string>

#include "image/image.hpp"
#include "image/png_settings.hpp"
#include "orvane/common/file_io.hpp"

namespace {

namespace img = orvane::pc::image;

constexpr int API_WIDTH = 1429;
constexpr int API_HEIGHT = 804;
const char* const FRAMES[] = {"plain-desktop-1920x1080.png", "photo-desktop-1920x1080.png"};

std::filesystem::path frames_dir() {
  if (const char* dir = std::getenv("ORVANE_FRAMES_DIR")) return dir;
  // This file lives in bench/ of the source tree.
  return std::filesystem::path(__FILE__).parent_path().parent_path() / "pc/deskhand/tests/data";
}

const img::RgbImage& frame(int index) {
  static std::map<int, img::RgbImage> frames;
  auto it = frames.find(index);
  if (it == frames.end()) {
    it = frames.emplace(index, img::read_png_file(frames_dir() / FRAMES[index])).first;
  }
  return it->second;
}

const img::RgbImage& resized(int index) {
  static std::map<int, img::RgbImage> images;
  auto it = images.find(index);
  if (it == images.end()) {
    it = images.emplace(index, img::resize_bicubic(frame(index), API_WIDTH, API_HEIGHT)).first;
  }
  return it->second;
}

void frame_label(benchmark::State& state) {
  state.SetLabel(state.range(0) == 0 ? "plain" : "photo");
}

void BM_Resize(benchmark::State& state) {
  const auto& source = frame(static_cast<int>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(img::resize_bicubic(source, API_WIDTH, API_HEIGHT));
  frame_label(state);
}
BENCHMARK(BM_Resize)->DenseRange(0, 1)->Unit(benchmark::kMillisecond);

void encode_with(benchmark::State& state, const img::PngSettings& settings) {
  const auto& image = resized(static_cast<int>(state.range(0)));
  std::size_t size = 0;
  for (auto _ : state) {
    const std::string png = img::encode_png(image, settings);
    size = png.size();
    benchmark::DoNotOptimize(png.data());
  }
  state.counters["png_bytes"] = static_cast<double>(size);
  frame_label(state);
}

void BM_EncodeFast(benchmark::State& state) {
  encode_with(state, img::png_settings(img::PngEffort::Fast));
}
BENCHMARK(BM_EncodeFast)->DenseRange(0, 1)->Unit(benchmark::kMillisecond);

void BM_EncodeSmallest(benchmark::State& state) {
  encode_with(state, img::png_settings(img::PngEffort::Smallest));
}
BENCHMARK(BM_EncodeSmallest)->DenseRange(0, 1)->Unit(benchmark::kMillisecond);

// Arguments: frame, filter (RowFilter numbering), libdeflate level, colour type chosen from the
// pixels (0 or 1; the plain frame is greyscale, the photo RGB). Run with
// --benchmark_filter=BM_EncodeSettings to see the size/time trade-off behind the efforts.
void BM_EncodeSettings(benchmark::State& state) {
  encode_with(state, {static_cast<img::RowFilter>(state.range(1)), static_cast<int>(state.range(2)),
                      state.range(3) != 0});
}
BENCHMARK(BM_EncodeSettings)
    ->ArgsProduct({{0, 1}, {0, 1, 2, 3, 4, 5, 6}, {1, 4, 5, 6, 7, 8, 9, 10, 11, 12}, {0, 1}})
    ->Unit(benchmark::kMillisecond);

void BM_Base64(benchmark::State& state) {
  const std::string png =
      img::encode_png(resized(static_cast<int>(state.range(0))), img::PngEffort::Smallest);
  for (auto _ : state) benchmark::DoNotOptimize(img::base64_encode(png));
  frame_label(state);
}
BENCHMARK(BM_Base64)->DenseRange(0, 1)->Unit(benchmark::kMillisecond);

// The disk copy alone, replaced atomically as the executor does (no flush to the device).
void BM_WriteAtomic(benchmark::State& state) {
  const std::string png =
      img::encode_png(resized(static_cast<int>(state.range(0))), img::PngEffort::Smallest);
  const auto dir = std::filesystem::temp_directory_path() / "orvane-image-bench";
  for (auto _ : state)
    orvane::common::write_file_atomic(dir / "latest.png", png, orvane::common::Durability::Visible);
  std::filesystem::remove_all(dir);
  frame_label(state);
}
BENCHMARK(BM_WriteAtomic)->DenseRange(0, 1)->Unit(benchmark::kMillisecond);

// What a screenshot costs after the capture: the disk copy is the same bytes as the model's PNG.
void BM_Pipeline(benchmark::State& state) {
  const auto& source = frame(static_cast<int>(state.range(0)));
  const auto dir = std::filesystem::temp_directory_path() / "orvane-image-bench";
  std::size_t size = 0;
  for (auto _ : state) {
    const img::RgbImage image = img::resize_bicubic(source, API_WIDTH, API_HEIGHT);
    const std::string png = img::encode_png(image, img::PngEffort::Smallest);
    const std::string text = img::base64_encode(png);
    orvane::common::write_file_atomic(dir / "latest.png", png, orvane::common::Durability::Visible);
    size = png.size();
    benchmark::DoNotOptimize(text.data());
  }
  std::filesystem::remove_all(dir);
  state.counters["png_bytes"] = static_cast<double>(size);
  frame_label(state);
}
BENCHMARK(BM_Pipeline)->DenseRange(0, 1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
