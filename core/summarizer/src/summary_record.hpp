#pragma once
// The summary record: the model's prompt, the parsing of its reply, and the records built without
// the model.
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

namespace orvane::summarizer {

extern const std::string_view SUMMARIZE_PROMPT;

// The record for the model's reply text, fences removed. Text that is not JSON gives a record
// whose "summary" is that text (first 1000 characters), logged as a warning. Throws
// std::invalid_argument when the reply is JSON but not an object, or nests too deep to read.
nlohmann::ordered_json _parse_summary(std::string_view text);

nlohmann::ordered_json _empty_summary();

// The record built from the messages alone: the first non-empty user message is the goal.
nlohmann::ordered_json _fallback_summary(const nlohmann::ordered_json& messages);

}  // namespace orvane::summarizer
