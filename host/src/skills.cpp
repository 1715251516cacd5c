#include "orvane/host/skills.hpp"

namespace orvane::host {

nlohmann::ordered_json SkillDefinition::to_dict() const {
  return {{"name", name},
          {"description", description},
          {"app", app},
          {"category", category},
          {"triggers", triggers},
          {"required_params", required_params},
          {"optional_params", optional_params}};
}

void SkillRegistry::register_skill(std::shared_ptr<SkillDefinition> skill) {
  const auto key = skill->name;
  _skills[key] = std::move(skill);
}

}  // namespace orvane::host
