#pragma once
// A skill the agent designs for itself: the blueprint, and the dynamic skill that it becomes in
// the host's skill engine.
#include <cstdint>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <vector>

#include "orvane/host/skills.hpp"

namespace orvane::skills {

// Input of the wrong shape, as opposed to a broken rule: a step or a step's "params" that is not
// an object, a field of the wrong JSON kind, JSON nested too deeply.
class SkillDataError : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

// The design of a skill. Checks nothing when built; SkillCreator::validate_blueprint judges it.
struct SkillBlueprint {
  std::string name;
  std::string description;
  std::string app;
  std::string category;  // one of SkillCreator::VALID_CATEGORIES, or empty
  // Keywords as the skill gave them, of any JSON kind; only their absence is judged.
  nlohmann::ordered_json triggers = nlohmann::ordered_json::array();
  std::vector<std::string> required_params;
  std::vector<std::string> optional_params;
  std::vector<nlohmann::ordered_json> steps;  // raw step objects, kept unchanged
  std::string reason;
  std::int64_t version = 1;

  // The ten fields under their own names, in this order.
  nlohmann::ordered_json to_dict() const;
};

class DynamicSkill : public host::SkillDefinition {
 public:
  // Takes the descriptive fields from `blueprint`; validates nothing. The engine's `triggers` are
  // the texts among the blueprint's triggers; the stored form keeps them as given.
  explicit DynamicSkill(SkillBlueprint blueprint);

  // One host step per raw step, with every "{{name}}" in the step's description and in the
  // top-level texts of its "params" replaced by the text form of params[name] (True, False, None,
  // 5, 2.0, 1e+16, ...), parameter by parameter in `params`' order. Other step fields are passed
  // on as stored. Throws SkillDataError for a step or "params" that is not an object, for a
  // description that is not text while `params` has entries, and for `params` that is not an
  // object.
  std::vector<host::SkillStep> build_steps(
      const nlohmann::ordered_json& params = nlohmann::ordered_json::object()) const;

  // The stored form: the base description plus "dynamic", "version", "reason" and the raw
  // "steps" (placeholders unfilled).
  nlohmann::ordered_json to_dict() const override;

 private:
  SkillBlueprint _blueprint;
  std::vector<nlohmann::ordered_json> _raw_steps;
};

}  // namespace orvane::skills
