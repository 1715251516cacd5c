#include "temp_directory.hpp"

#include <random>
#include <system_error>

#include "output.hpp"

namespace orvane::app {

std::filesystem::path make_temp_directory(const std::string& prefix) {
  namespace fs = std::filesystem;
  static constexpr char LETTERS[] =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  const fs::path base = fs::temp_directory_path();
  std::random_device seed;
  std::mt19937 random(seed());
  std::uniform_int_distribution<std::size_t> pick(0, sizeof LETTERS - 2);
  std::error_code error;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = prefix;
    for (int i = 0; i < 6; ++i) name += LETTERS[pick(random)];
    // create_directory is false, without an error, when the name is taken.
    if (fs::create_directory(base / name, error)) return base / name;
    if (error) break;
  }
  throw Failure("cannot create a temporary directory in " + base.string() +
                (error ? ": " + error.message() : ""));
}

}  // namespace orvane::app
