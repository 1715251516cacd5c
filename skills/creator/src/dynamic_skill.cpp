// A blueprint as a skill of the host's engine: its steps with the run's parameters filled in.
#include <string>

#include "orvane/skills/skill.hpp"
#include "text_form.hpp"

namespace orvane::skills {
namespace {

using json = nlohmann::ordered_json;

void replace_all(std::string& text, const std::string& from, const std::string& to) {
  for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
}

// Each parameter in turn, on the result of the previous one: a value that holds another
// placeholder is filled again when that parameter comes later.
std::string fill(std::string text, const json& params) {
  for (const auto& [name, value] : params.items()) {
    const std::string placeholder = "{{" + name + "}}";
    if (text.find(placeholder) != std::string::npos)
      replace_all(text, placeholder, text_form(value));
  }
  return text;
}

json member_or(const json& step, const char* key, json fallback) {
  const auto it = step.find(key);
  return it == step.end() ? fallback : *it;
}

}  // namespace

DynamicSkill::DynamicSkill(SkillBlueprint blueprint) : _blueprint(std::move(blueprint)) {
  name = _blueprint.name;
  description = _blueprint.description;
  app = _blueprint.app;
  category = _blueprint.category;
  if (_blueprint.triggers.is_array()) {
    for (const auto& trigger : _blueprint.triggers)
      if (trigger.is_string()) triggers.push_back(trigger.get<std::string>());
  }
  required_params = _blueprint.required_params;
  optional_params = _blueprint.optional_params;
  _raw_steps = _blueprint.steps;
}

std::vector<host::SkillStep> DynamicSkill::build_steps(const json& params) const {
  if (!params.is_object()) {
    throw SkillDataError("the parameters must be an object, not " + kind_name(params));
  }
  std::vector<host::SkillStep> steps;
  steps.reserve(_raw_steps.size());
  for (std::size_t i = 0; i < _raw_steps.size(); ++i) {
    const json& raw = _raw_steps[i];
    const std::string label = "Step " + std::to_string(i + 1);
    if (!raw.is_object()) throw SkillDataError(label + " must be an object, not " + kind_name(raw));

    json step_params = json::object();
    if (const auto it = raw.find("params"); it != raw.end()) {
      if (!it->is_object()) {
        throw SkillDataError(label + ": 'params' must be an object, not " + kind_name(*it));
      }
      for (const auto& [key, value] : it->items()) {
        step_params[key] = value.is_string() ? json(fill(value.get<std::string>(), params)) : value;
      }
    }
    json step_description = member_or(raw, "description", "");
    if (step_description.is_string()) {
      step_description = fill(step_description.get<std::string>(), params);
    } else if (!params.empty()) {
      throw SkillDataError(label + ": the description must be text, not " +
                           kind_name(step_description));
    }
    steps.push_back(host::SkillStep{
        .operation = member_or(raw, "operation", ""),
        .params = std::move(step_params),
        .description = std::move(step_description),
        .wait_after = member_or(raw, "wait_after", 1.0),
        .retry_on_fail = member_or(raw, "retry_on_fail", false),
        .max_retries = member_or(raw, "max_retries", 2),
        .optional = member_or(raw, "optional", false),
    });
  }
  return steps;
}

json DynamicSkill::to_dict() const {
  json d = SkillDefinition::to_dict();
  d["triggers"] = _blueprint.triggers;
  d["dynamic"] = true;
  d["version"] = _blueprint.version;
  d["reason"] = _blueprint.reason;
  d["steps"] = _raw_steps;
  return d;
}

}  // namespace orvane::skills
