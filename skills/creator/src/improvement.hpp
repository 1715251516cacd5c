#pragma once
#include <nlohmann/json.hpp>
#include <string>

#include "orvane/skills/creator.hpp"

namespace orvane::skills {

// An entry stamped with the current local time, "%Y-%m-%d %H:%M:%S". A value that the log file
// could not hold and read back is stored as a note object, with a warning naming the skill.
ImprovementEntry new_entry(
    std::string action, const nlohmann::ordered_json& skill_name,
    const nlohmann::ordered_json& reason,
    const nlohmann::ordered_json& details = nlohmann::ordered_json::object());

}  // namespace orvane::skills
