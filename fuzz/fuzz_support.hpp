#pragma once
// What the fuzzers share: quiet loggers, a scratch directory of their own, the input read as JSON,
// and a broken property that stops the run with its input kept.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

#include "orvane/common/json_read.hpp"
#include "orvane/common/json_text.hpp"
#include "orvane/host/log.hpp"

namespace orvane::fuzz {

using json = nlohmann::ordered_json;

// Aborts, so that libFuzzer reports the input as a crash and writes it out.
[[noreturn]] inline void fail(std::string_view property) {
  std::fprintf(stderr, "broken property: %.*s\n", int(property.size()), property.data());
  std::abort();
}

inline void check(bool holds, std::string_view property) {
  if (!holds) fail(property);
}

inline std::string_view as_text(const std::uint8_t* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

// The input as JSON, with the NaN and Infinity tokens that Python writes; nullopt for text that
// is not JSON or nests deeper than the libraries read.
inline std::optional<json> as_json(std::string_view text) {
  try {
    return common::parse_python_json(text);
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

// The exact text of a value, NaN included, for comparisons where NaN != NaN would mislead.
inline std::string text_of(const json& value) {
  return common::dump_python_json(value, std::nullopt);
}

// Loggers stay silent: the fuzzers judge results, and a line per input costs more than the input.
inline void quiet_logs() {
  host::set_level(spdlog::level::off);
}

// A directory for this process under the system's temporary directory, removed at exit.
class ScratchDir {
 public:
  explicit ScratchDir(std::string_view name)
      : _path(std::filesystem::temp_directory_path() /
              ("orvane-" + std::string(name) + "-" + std::to_string(::getpid()))) {
    reset();
  }
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(_path, ignored);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  // Empties the directory, so that every input starts from the same state.
  void reset() {
    std::filesystem::remove_all(_path);
    std::filesystem::create_directories(_path);
  }
  const std::filesystem::path& path() const { return _path; }

 private:
  std::filesystem::path _path;
};

}  // namespace orvane::fuzz
