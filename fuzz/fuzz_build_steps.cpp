// Any JSON value as a skill's raw steps and a run's parameters: build_steps refuses with
// SkillDataError or gives one step per raw step, passing the operation on unchanged and filling
// nothing when no parameter is given.
#include <cstddef>
#include <cstdint>

#include "fuzz_support.hpp"
#include "orvane/skills/skill.hpp"

using namespace orvane::skills;
namespace fuzz = orvane::fuzz;
using fuzz::json;

namespace {

// {"steps": [...], "params": ...} gives both; any other array is the steps alone; any other
// value is one step.
void split(const json& value, std::vector<json>& steps, json& params) {
  const json* raw = &value;
  if (value.is_object() && value.contains("steps") && value["steps"].is_array()) {
    raw = &value["steps"];
    params = value.contains("params") ? value["params"] : json::object();
  }
  if (raw->is_array()) {
    steps.assign(raw->begin(), raw->end());
  } else {
    steps.push_back(*raw);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto value = fuzz::as_json(fuzz::as_text(data, size));
  if (!value) return 0;
  SkillBlueprint blueprint{.name = "fuzzed"};
  json params = json::object();
  split(*value, blueprint.steps, params);
  const DynamicSkill skill(blueprint);

  try {
    const auto steps = skill.build_steps(params);
    fuzz::check(steps.size() == blueprint.steps.size(), "not one step per raw step");
    for (std::size_t i = 0; i < steps.size(); ++i) {
      const auto& raw = blueprint.steps[i];
      fuzz::check(steps[i].operation == raw.value("operation", json("")),
                  "the operation is not passed on as stored");
    }
  } catch (const SkillDataError&) {
  }

  try {
    const auto plain = skill.build_steps();
    for (std::size_t i = 0; i < plain.size(); ++i) {
      const auto& raw = blueprint.steps[i];
      fuzz::check(
          fuzz::text_of(plain[i].description) == fuzz::text_of(raw.value("description", json(""))),
          "a description changes although no parameter is given");
    }
  } catch (const SkillDataError&) {
  }
  fuzz::check(fuzz::text_of(skill.to_dict()["steps"]) == fuzz::text_of(json(blueprint.steps)),
              "the stored form does not keep the raw steps");
  return 0;
}
