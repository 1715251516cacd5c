#include "json_input.hpp"

namespace orvane::app {
namespace {

struct TooDeep {};

}  // namespace

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
