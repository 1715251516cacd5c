#pragma once
// How values of a message or a summary record read as text.
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "orvane/common/json_read.hpp"

namespace orvane::summarizer {

// Objects and arrays nested deeper than MAX_JSON_DEPTH are refused when parsing: copying and
// writing a value recurse once per level, and model output can nest far enough to exhaust the
// stack.
using common::JsonTooDeep;
using common::MAX_JSON_DEPTH;

// The value of the JSON text, or a discarded value when the text is not JSON. Throws JsonTooDeep
// when objects and arrays nest deeper than MAX_JSON_DEPTH.
nlohmann::ordered_json parse_json(std::string_view text);

// Text unchanged, numbers in decimal notation, everything else (null, booleans, objects, arrays)
// as compact JSON.
std::string text_form(const nlohmann::ordered_json& value);

// A message's `content` as text: null is empty, a list of content blocks is the text of its
// {"type": "text"} blocks and the compact JSON of any other block, joined by line feeds.
std::string content_text(const nlohmann::ordered_json& content);

// The text with bytes that are not UTF-8 replaced by U+FFFD: tool output may be raw bytes, and
// counting characters needs text.
std::string valid_text(std::string text);

// The first `limit` characters followed by `suffix` when the text is longer, else the text whole.
std::string shorten(std::string text, std::size_t limit, std::string_view suffix);

// The text without white space (as str.isspace counts it) at either end.
std::string strip(std::string_view text);

}  // namespace orvane::summarizer
