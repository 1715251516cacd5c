#pragma once
#include <nlohmann/json.hpp>
#include <string>

#include "orvane/skills/creator.hpp"

namespace orvane::skills {

// An entry stamped with the current local time, "%Y-%m-%d %H:%M:%S".
ImprovementEntry new_entry(std::string action, nlohmann::ordered_json skill_name,
                           nlohmann::ordered_json reason,
                           nlohmann::ordered_json details = nlohmann::ordered_json::object());

}  // namespace orvane::skills
