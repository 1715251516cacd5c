#pragma once
#include <nlohmann/json.hpp>
#include <string>

namespace orvane::skills {

// A value as Python's str() shows it: text unchanged, True, False, None, 5, 2.0, 1e+16. Lists
// and objects are written as compact JSON text. Throws SkillDataError for JSON nested too deep.
std::string text_form(const nlohmann::ordered_json& value);

// The JSON kind in words, for error messages: "text", "number", "list", ...
std::string kind_name(const nlohmann::ordered_json& value);

}  // namespace orvane::skills
