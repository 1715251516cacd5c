#pragma once
// The host's skill engine, as far as the skill libraries meet it: the skill base class, the step
// record the engine runs, and the live registry.
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace orvane::host {

// One step the engine carries out. Each field holds whatever JSON value the skill supplied, so a
// stored step reaches the engine unchanged; the defaults are those of a step that leaves it out.
struct SkillStep {
  nlohmann::ordered_json operation = "";
  nlohmann::ordered_json params = nlohmann::ordered_json::object();
  nlohmann::ordered_json description = "";
  nlohmann::ordered_json wait_after = 1.0;
  nlohmann::ordered_json retry_on_fail = false;
  nlohmann::ordered_json max_retries = 2;
  nlohmann::ordered_json optional = false;
};

class SkillDefinition {
 public:
  virtual ~SkillDefinition() = default;

  std::string name;
  std::string description;
  std::string app;
  std::string category;
  std::vector<std::string> triggers;
  std::vector<std::string> required_params;
  std::vector<std::string> optional_params;

  // The seven fields above under their own names, in this order.
  virtual nlohmann::ordered_json to_dict() const;
};

// The skills the agent can use now, by name.
class SkillRegistry {
 public:
  virtual ~SkillRegistry() = default;

  // Adds `skill` under its name, replacing a skill of the same name. (`register` is a reserved
  // word in C++.)
  virtual void register_skill(std::shared_ptr<SkillDefinition> skill);

  std::map<std::string, std::shared_ptr<SkillDefinition>> _skills;
};

}  // namespace orvane::host
