#pragma once
#include <string>
#include <vector>

namespace orvane::skills {

// "Validation failed:" and one "  - " line per error.
std::string validation_message(const std::vector<std::string>& errors);

}  // namespace orvane::skills
