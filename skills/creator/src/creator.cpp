// Creating simple skills: validation, the skill file, the registry and the log entry.
#include "orvane/skills/creator.hpp"
#include "orvane/common/path_text.hpp"

#include <memory>

#include "improvement.hpp"
#include "log.hpp"
#include "orvane/host/config.hpp"
#include "results.hpp"
#include "skill_object.hpp"
#include "text_form.hpp"

namespace orvane::skills {
namespace {

using json = nlohmann::ordered_json;

std::filesystem::path data_dir_or_default(const std::optional<std::filesystem::path>& data_dir) {
  return std::filesystem::absolute(data_dir ? *data_dir : host::home_dir() / ".orvane");
}

}  // namespace

std::string validation_message(const std::vector<std::string>& errors) {
  std::string message = "Validation failed:";
  for (const auto& error : errors) message += "\n  - " + error;
  return message;
}

SkillCreator::SkillCreator(std::optional<std::filesystem::path> data_dir)
    : SKILLS_DIR(data_dir_or_default(data_dir) / "skills"),
      IMPROVEMENT_LOG(data_dir_or_default(data_dir) / "improvement_log.json") {
  std::filesystem::create_directories(SKILLS_DIR);
  _load_improvement_log();
}

CreationResult SkillCreator::create_skill(SkillBlueprint& blueprint,
                                          host::SkillRegistry* registry) {
  const auto [valid, errors] = validate_blueprint(blueprint);
  if (!valid) return {false, validation_message(errors), nullptr};

  const auto file = SKILLS_DIR / common::path_from_utf8(blueprint.name + ".json");
  std::error_code error;
  if (std::filesystem::exists(file, error)) {
    if (const auto version = next_version(file)) {
      blueprint.version = *version;
      creator_log().info("{}", "Updating existing skill " + blueprint.name + " to v" +
                                   std::to_string(blueprint.version));
    }
  }

  auto skill = std::make_shared<DynamicSkill>(blueprint);
  try {
    write_json_file(file, skill->to_dict());
  } catch (const std::exception& failure) {
    return {false, std::string("Failed to save skill: ") + failure.what(), nullptr};
  }
  creator_log().info("{}", "Saved skill to " + common::utf8_of(file));

  if (registry != nullptr) {
    registry->register_skill(skill);
    creator_log().info("{}", "Hot-loaded skill " + blueprint.name + " into live registry");
  }

  const auto& version = blueprint.version;
  _log_improvement(
      new_entry(version == 1 ? "created" : "updated", blueprint.name,
                blueprint.reason.empty() ? "Agent decided to create this skill" : blueprint.reason,
                {{"version", version},
                 {"steps", blueprint.steps.size()},
                 {"category", blueprint.category},
                 {"app", blueprint.app},
                 {"triggers", blueprint.triggers}}));
  return {true,
          std::string(version > 1 ? "Updated" : "Created") + " skill '" + blueprint.name + "' v" +
              std::to_string(version) + " (" + std::to_string(blueprint.steps.size()) +
              " steps, category: " + blueprint.category + "). It's now available for use.",
          skill};
}

CreationResult SkillCreator::create_from_dict(const json& data, host::SkillRegistry* registry) {
  if (!data.is_object()) {
    return {false, "Invalid skill data: the skill must be an object, not " + kind_name(data),
            nullptr};
  }
  if (const auto type = data.find("type"); type != data.end() && *type == "python") {
    return _create_python_skill(data, registry);
  }
  try {
    SkillBlueprint blueprint = blueprint_from(data, "", false);
    return create_skill(blueprint, registry);
  } catch (const std::exception& failure) {
    return {false, std::string("Invalid skill data: ") + failure.what(), nullptr};
  } catch (...) {
    return {false, "Invalid skill data: unknown error", nullptr};  // a registry's own throw
  }
}

SkillCreator& get_skill_creator() {
  // Made on first use; a constructor that throws leaves it unmade for the next call.
  static std::unique_ptr<SkillCreator> _creator_instance;
  if (!_creator_instance) _creator_instance = std::make_unique<SkillCreator>();
  return *_creator_instance;
}

}  // namespace orvane::skills
