#include "json_input.hpp"

#include <fstream>
#include <iostream>
#include <system_error>

#include "orvane/common/json_read.hpp"

namespace orvane::app {
namespace {

// Up to MAX_INPUT_BYTES of `in`; one byte more tells that there was more.
std::string read_capped(std::istream& in, const std::string& name) {
  std::string bytes;
  char chunk[1 << 16];
  while (bytes.size() <= MAX_INPUT_BYTES && in.read(chunk, sizeof chunk).gcount() > 0) {
    bytes.append(chunk, static_cast<std::size_t>(in.gcount()));
  }
  if (in.bad()) throw Failure("cannot read " + name);
  if (bytes.size() > MAX_INPUT_BYTES) {
    throw Failure(name + " holds more than " + std::to_string(MAX_INPUT_BYTES >> 20) +
                  " MiB, the most a command reads");
  }
  return bytes;
}

}  // namespace

std::string input_name(const std::filesystem::path& path) {
  return path == "-" ? "standard input" : path.string();
}

std::string read_input_file(const std::filesystem::path& path) {
  if (path == "-") return read_capped(std::cin, input_name(path));
  std::error_code error;
  if (std::filesystem::is_directory(path, error)) {
    throw Failure(path.string() + " is a directory, not a file");
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) throw Failure("cannot read " + path.string());
  return read_capped(in, path.string());
}

Json parse_json_input(const std::string& text, const std::string& what) {
  try {
    // Linear in the input's length, unlike a parse with a callback (a conversation of 100,000
    // messages reads in a fraction of a second).
    Json value = common::parse_json(text, common::OnInvalid::Discard);
    if (value.is_discarded()) throw Failure(what + " is not valid JSON");
    return value;
  } catch (const common::JsonTooDeep&) {
    throw Failure(what + " nests deeper than " + std::to_string(MAX_INPUT_DEPTH) + " levels");
  }
}

}  // namespace orvane::app
