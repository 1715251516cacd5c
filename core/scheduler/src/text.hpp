#pragma once
// What the JSON forms of jobs need beyond the records. Texts that reach JSON output must be UTF-8,
// while fields can hold any bytes (worker output, error messages, host data); metadata must stay
// within what the state file can hold.
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "orvane/common/json_read.hpp"

namespace orvane::scheduler {

// The text with every maximal ill-formed byte sequence replaced by U+FFFD (as a lenient UTF-8
// decoder does); valid text is returned unchanged.
std::string valid_utf8(std::string_view text);

// A job's metadata object lies three levels deep in the state file (the file, "jobs", the job), so
// this is as deep as it may nest for every saved file to load back. Copying and writing it
// recurse once per level.
inline constexpr int METADATA_DEPTH = common::MAX_JSON_DEPTH - 3;
// Throws InvalidValueError when `metadata` nests deeper than METADATA_DEPTH (found without
// recursion).
void check_metadata_depth(const nlohmann::ordered_json& metadata);

// The dictionary form's next_run_human and last_run_human of these times.
std::string next_run_human(double next_run);
std::string last_run_human(double last_run);

}  // namespace orvane::scheduler
