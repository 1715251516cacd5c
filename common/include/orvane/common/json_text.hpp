#pragma once
// JSON text in the exact form Python's json module writes it.
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

namespace orvane::common {

// json.dumps(value, indent=indent, ensure_ascii=True): with an indent, "," ends lines and ": "
// separates keys; without one, ", " and ": " separate. Non-ASCII becomes lower-case \uXXXX
// (surrogate pairs beyond the Basic Multilingual Plane); floats use Python's repr. No trailing line
// feed.
std::string dump_python_json(const nlohmann::ordered_json& value, std::optional<int> indent = 2);

}  // namespace orvane::common
