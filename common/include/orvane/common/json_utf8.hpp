#pragma once
// JSON values whose texts came from outside (worker output, file names, host data) and may hold
// bytes that are not UTF-8, which the JSON writer refuses.
#include <nlohmann/json.hpp>

namespace orvane::common {

// `value` itself when every text and member name is valid UTF-8, else a copy in which each
// maximal ill-formed sequence is U+FFFD (replace_invalid_utf8).
nlohmann::ordered_json valid_utf8_json(const nlohmann::ordered_json& value);

// True when every text and member name in `value` is valid UTF-8. Recurses once per level: for
// values already kept within MAX_JSON_DEPTH.
bool is_valid_utf8_json(const nlohmann::ordered_json& value);

}  // namespace orvane::common
