#pragma once
// Texts that reach JSON output must be UTF-8; fields can hold any bytes (worker output, error
// messages, host data).
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

namespace orvane::scheduler {

// The text with every maximal ill-formed byte sequence replaced by U+FFFD (as a lenient UTF-8
// decoder does); valid text is returned unchanged.
std::string valid_utf8(std::string_view text);
// A copy of `value` whose texts and member names are all valid UTF-8.
nlohmann::ordered_json valid_utf8_json(const nlohmann::ordered_json& value);

// The dictionary form's next_run_human and last_run_human of these times.
std::string next_run_human(double next_run);
std::string last_run_human(double last_run);

}  // namespace orvane::scheduler
