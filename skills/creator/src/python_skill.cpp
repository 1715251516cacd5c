// Script skills: Python source checked without running it, stored beside a metadata file.
#include "improvement.hpp"
#include "log.hpp"
#include "names.hpp"
#include "orvane/common/file_io.hpp"
#include "orvane/common/json_read.hpp"
#include "orvane/common/unicode.hpp"
#include "orvane/skills/creator.hpp"
#include "python_syntax.hpp"
#include "results.hpp"
#include "skill_object.hpp"
#include "text_form.hpp"

namespace orvane::skills {
namespace {

using json = nlohmann::ordered_json;

// Script skills are checked by compiling them, which takes a Python runtime; without one they are
// refused before anything is written. `why` says what was looked for.
std::string no_python_message(const std::string& why) {
  return "Python 3 runtime not found: install Python 3 (python.org) or set ORVANE_PYTHON_LIBRARY "
         "to its library, then create the skill again; simple skills need no Python (" +
         why + ")";
}

json member_or(const json& object, const char* key, json fallback) {
  const auto it = object.find(key);
  return it == object.end() ? fallback : *it;
}

}  // namespace

CreationResult SkillCreator::_create_python_skill(const json& data, host::SkillRegistry*) {
  std::string name, code, description;
  try {
    if (common::nests_deeper_than(data)) {
      throw SkillDataError("the skill is nested more than " +
                           std::to_string(common::MAX_JSON_DEPTH) + " levels deep");
    }
    // The name and the code are judged by the checks below, which refuse text that is not UTF-8.
    require_utf8_members(data, {"description", "app", "category", "triggers", "required_params",
                                "optional_params", "reason"});
    name = text_member(data, "name");
    code = text_member(data, "code");
    description = text_member(data, "description");
  } catch (const SkillDataError& failure) {
    return {false, std::string("Invalid skill data: ") + failure.what(), nullptr};
  }

  std::vector<std::string> errors;
  switch (check_skill_name(name)) {
    case NameProblem::missing:
      errors.emplace_back("Skill name is required");
      break;
    case NameProblem::not_alphanumeric:
      errors.emplace_back("Skill name must be alphanumeric with underscores");
      break;
    case NameProblem::none:
      break;
  }
  if (code.empty()) errors.emplace_back("Python code is required");
  if (description.empty()) errors.emplace_back("Description is required");
  if (code.find("async def run") == std::string::npos) {
    errors.emplace_back("Code must define 'async def run(ctx, params)'");
  }
  if (code.find("def run(") == std::string::npos) {
    errors.emplace_back("Code must define a run() function");
  }
  if (!code.empty()) {
    if (const auto missing = python_missing()) return {false, no_python_message(*missing), nullptr};
    if (const auto syntax_error = python_syntax_error(code, name + ".py")) {
      errors.push_back("Syntax error in code: " + *syntax_error);
    }
  }
  if (!errors.empty()) return {false, validation_message(errors), nullptr};

  const auto script = SKILLS_DIR / (name + ".py");
  const auto metadata_file = SKILLS_DIR / (name + ".json");
  std::int64_t version = 1;
  std::error_code error;
  if (std::filesystem::exists(metadata_file, error))
    version = next_version(metadata_file).value_or(1);

  try {
    std::filesystem::create_directories(SKILLS_DIR);
    common::write_file_atomic(script, code);
  } catch (const std::exception& failure) {
    return {false, std::string("Failed to save script: ") + failure.what(), nullptr};
  }
  creator_log().info("{}", "Saved Python skill script: " + script.string());

  const json category = member_or(data, "category", "custom");
  const json triggers = member_or(data, "triggers", json::array());
  const json reason = member_or(data, "reason", "Agent created this Python skill");
  const json metadata = {{"name", name},
                         {"type", "python"},
                         {"description", description},
                         {"app", member_or(data, "app", "python")},
                         {"category", category},
                         {"triggers", triggers},
                         {"required_params", member_or(data, "required_params", json::array())},
                         {"optional_params", member_or(data, "optional_params", json::array())},
                         {"script", name + ".py"},
                         {"version", version},
                         {"reason", reason}};
  try {
    write_json_file(metadata_file, metadata);
  } catch (const std::exception& failure) {
    return {false, std::string("Failed to save metadata: ") + failure.what(), nullptr};
  }
  creator_log().info("{}", "Saved Python skill metadata: " + metadata_file.string());

  const std::size_t lines = common::splitlines(code).size();
  _log_improvement(new_entry(version > 1 ? "updated" : "created", name, reason,
                             {{"type", "python"},
                              {"version", version},
                              {"category", category},
                              {"code_lines", lines},
                              {"triggers", triggers}}));
  return {true,
          std::string(version > 1 ? "Updated" : "Created") + " Python skill '" + name + "' v" +
              std::to_string(version) + " (" + std::to_string(lines) + " lines, category: " +
              text_form(category) + "). It's now available for use with run_skill.",
          nullptr};
}

}  // namespace orvane::skills
