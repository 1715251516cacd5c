#pragma once
// Shared by the image tests: temporary directories, the reference frames, and the reference
// imaging library run through Debian's Python.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <random>
#include <string>

#include "image/image.hpp"
#include "orvane/common/file_io.hpp"

namespace orvane::pc::image::testing {

// Debian's interpreter: it has the imaging library (python3-pil) that the one on PATH may lack.
inline constexpr const char* REFERENCE_PYTHON = "/usr/bin/python3";

class TempDir {
 public:
  TempDir() {
    std::random_device random;
    do {
      path_ = std::filesystem::temp_directory_path() / ("orvane-image-" + std::to_string(random()));
    } while (!std::filesystem::create_directory(path_));
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

inline std::filesystem::path frame_path(const std::string& name) {
  return std::filesystem::path(ORVANE_FRAMES_DIR) / name;
}

// Runs a Python script with the reference interpreter; false (with the reason recorded as a test
// failure) when it does not end with status 0.
inline bool run_reference_python(const TempDir& dir, const std::string& script) {
  const auto script_path = dir / "reference.py";
  common::write_file_atomic(script_path, script);
  const std::string command = std::string(REFERENCE_PYTHON) + " '" + script_path.string() + "'";
  const int status = std::system(command.c_str());
  if (status != 0) {
    ADD_FAILURE() << command << " ended with status " << status
                  << " (the tests need Debian's python3 with python3-pil)";
    return false;
  }
  return true;
}

inline RgbImage random_image(int width, int height, std::uint32_t seed) {
  std::mt19937 gen(seed);
  RgbImage image{width, height, {}};
  image.pixels.resize(static_cast<std::size_t>(width) * height * 3);
  for (auto& p : image.pixels) p = static_cast<std::uint8_t>(gen());
  return image;
}

// Mean absolute difference per channel value.
inline double mean_abs_difference(const RgbImage& a, const RgbImage& b) {
  if (a.pixels.size() != b.pixels.size() || a.pixels.empty()) return 1e9;
  double sum = 0;
  for (std::size_t i = 0; i < a.pixels.size(); ++i) {
    sum += std::abs(static_cast<int>(a.pixels[i]) - static_cast<int>(b.pixels[i]));
  }
  return sum / static_cast<double>(a.pixels.size());
}

}  // namespace orvane::pc::image::testing
