#include "json_input.hpp"

#include <fstream>
#include <sstream>

namespace orvane::app {
namespace {

struct TooDeep {};

}  // namespace

std::string read_input_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  if (!in || in.bad()) throw Failure("cannot read " + path.string());
  return bytes.str();
}

Json parse_json_input(const std::string& text, const std::string& what) {
  const Json::parser_callback_t limit_depth = [](int depth, Json::parse_event_t, Json&) {
    if (depth > MAX_INPUT_DEPTH) throw TooDeep{};
    return true;
  };
  try {
    Json value = Json::parse(text, limit_depth, false);
    if (value.is_discarded()) throw Failure(what + " is not valid JSON");
    return value;
  } catch (const TooDeep&) {
    throw Failure(what + " nests deeper than " + std::to_string(MAX_INPUT_DEPTH) + " levels");
  }
}

}  // namespace orvane::app
