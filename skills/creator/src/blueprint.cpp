// The blueprint's dictionary form and the rules it must pass before it is stored.
#include <set>
#include <string>

#include "names.hpp"
#include "orvane/common/json_read.hpp"
#include "orvane/common/unicode.hpp"
#include "orvane/skills/creator.hpp"
#include "text_form.hpp"

namespace orvane::skills {
namespace {

using json = nlohmann::ordered_json;

constexpr std::size_t MAX_NAME_LENGTH = 64;

// Absent, null, empty text, false or zero.
bool is_empty_member(const json& step, const char* key) {
  const auto it = step.find(key);
  if (it == step.end() || it->is_null()) return true;
  if (it->is_string()) return it->get_ref<const std::string&>().empty();
  if (it->is_boolean()) return !it->get<bool>();
  if (it->is_number_float()) return it->get<double>() == 0.0;
  if (it->is_number()) return it->get<std::int64_t>() == 0;
  return false;
}

// As Python's truth test: null, false, zero, and empty texts, lists and objects.
bool is_empty_value(const json& value) {
  if (value.is_string()) return value.get_ref<const std::string&>().empty();
  if (value.is_boolean()) return !value.get<bool>();
  if (value.is_number()) return value.get<double>() == 0.0;
  return value.empty();  // null, or a list or object
}

std::string step_label(std::size_t index) {
  return "Step " + std::to_string(index + 1);
}

std::string sorted_categories() {
  std::string text;
  for (const auto& category : SkillCreator::VALID_CATEGORIES) {  // a std::set: ascending
    if (!text.empty()) text += ", ";
    text += category;
  }
  return text;
}

}  // namespace

json SkillBlueprint::to_dict() const {
  return {{"name", name},
          {"description", description},
          {"app", app},
          {"category", category},
          {"triggers", triggers},
          {"required_params", required_params},
          {"optional_params", optional_params},
          {"steps", steps},
          {"reason", reason},
          {"version", version}};
}

std::pair<bool, std::vector<std::string>> SkillCreator::validate_blueprint(
    const SkillBlueprint& blueprint) const {
  std::vector<std::string> errors;
  switch (check_skill_name(blueprint.name)) {
    case NameProblem::missing:
      errors.emplace_back("Skill name is required");
      break;
    case NameProblem::not_alphanumeric:
      errors.emplace_back("Skill name must be alphanumeric with underscores only");
      break;
    case NameProblem::none:
      if (common::length(blueprint.name) > MAX_NAME_LENGTH) {
        errors.emplace_back("Skill name must be 64 characters or less");
      }
      break;
  }
  if (blueprint.description.empty()) errors.emplace_back("Description is required");
  if (blueprint.app.empty()) errors.emplace_back("App name is required");
  if (!blueprint.category.empty() && !VALID_CATEGORIES.contains(blueprint.category)) {
    errors.push_back("Invalid category: " + blueprint.category + ". Valid: " + sorted_categories());
  }
  if (is_empty_value(blueprint.triggers))
    errors.emplace_back("At least one trigger keyword is required");
  if (blueprint.steps.empty()) errors.emplace_back("At least one step is required");

  const auto& steps = blueprint.steps;
  for (std::size_t i = 0; i < steps.size(); ++i) {
    const json& step = steps[i];
    if (!step.is_object()) {
      throw SkillDataError(step_label(i) + " must be an object, not " + kind_name(step));
    }
    if (common::nests_deeper_than(step)) {
      throw SkillDataError(step_label(i) + " is nested more than " +
                           std::to_string(common::MAX_JSON_DEPTH) + " levels deep");
    }
    if (is_empty_member(step, "operation")) {
      errors.push_back(step_label(i) + ": operation is required");
    } else if (const json& operation = step.at("operation");
               !operation.is_string() || !VALID_OPERATIONS.contains(operation.get<std::string>())) {
      errors.push_back(step_label(i) + ": unknown operation '" + text_form(operation) +
                       "'. See pc tool for valid operations.");
    }
    if (is_empty_member(step, "description")) {
      errors.push_back(step_label(i) + ": description is required");
    }
  }

  std::set<std::string> declared(blueprint.required_params.begin(),
                                 blueprint.required_params.end());
  declared.insert(blueprint.optional_params.begin(), blueprint.optional_params.end());
  for (std::size_t i = 0; i < steps.size(); ++i) {
    const auto params = steps[i].find("params");
    if (params == steps[i].end()) continue;
    if (!params->is_object()) {
      throw SkillDataError(step_label(i) + ": 'params' must be an object, not " +
                           kind_name(*params));
    }
    for (const auto& [key, value] : params->items()) {
      if (!value.is_string() || value.get_ref<const std::string&>().find("{{") == std::string::npos)
        continue;
      for (const auto& name : placeholder_names(value.get_ref<const std::string&>())) {
        if (!declared.contains(name)) {
          errors.push_back(step_label(i) + ": placeholder '{{" + name +
                           "}}' not in required_params or optional_params");
        }
      }
    }
  }
  return {errors.empty(), errors};
}

}  // namespace orvane::skills
