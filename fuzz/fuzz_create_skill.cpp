// Any JSON value as a skill the model wrote: create_from_dict answers with a message (only a
// script that Python cannot compile at all may throw), agrees with validate_blueprint, leaves
// nothing behind when it refuses, and stores what it accepts so that a restart loads it back.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string_view>

#include "fuzz_support.hpp"
#include "orvane/skills/creator.hpp"
#include "skill_object.hpp"

using namespace orvane::skills;
namespace fuzz = orvane::fuzz;
namespace fs = std::filesystem;

namespace {

bool starts_with_any(std::string_view text, std::initializer_list<std::string_view> prefixes) {
  for (const auto prefix : prefixes)
    if (text.starts_with(prefix)) return true;
  return false;
}

bool is_script(const fuzz::json& value) {
  return value.is_object() && value.contains("type") && value["type"] == "python";
}

// validate_blueprint's verdict on the object as create_from_dict reads it; nullopt when the
// object is of the wrong shape.
std::optional<bool> verdict(const SkillCreator& creator, const fuzz::json& value) {
  try {
    const auto blueprint = blueprint_from(value, "", false);
    const auto [valid, errors] = creator.validate_blueprint(blueprint);
    fuzz::check(valid == errors.empty(), "a blueprint is judged valid with errors, or not without");
    return valid;
  } catch (const SkillDataError&) {
    return std::nullopt;
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::quiet_logs();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto value = fuzz::as_json(fuzz::as_text(data, size));
  if (!value) return 0;
  static fuzz::ScratchDir scratch("create-skill");
  scratch.reset();
  SkillCreator creator(scratch.path());
  orvane::host::SkillRegistry registry;

  const auto valid =
      value->is_object() && !is_script(*value) ? verdict(creator, *value) : std::nullopt;
  CreationResult result;
  try {
    result = creator.create_from_dict(*value, &registry);
  } catch (const CompileError&) {
    fuzz::check(is_script(*value), "CompileError from a simple skill");
    return 0;
  }

  if (!result.success) {
    fuzz::check(starts_with_any(result.message,
                                {"Invalid skill data: ", "Validation failed:\n", "Failed to save"}),
                "a refusal without its message");
    fuzz::check(registry._skills.empty(), "a refused skill is registered");
    fuzz::check(creator.get_improvement_log(0).empty(), "a refused skill is logged");
    // A name too long for a file name passes validation and fails to save; a script may stay.
    if (result.message.starts_with("Failed to save")) return 0;
    fuzz::check(!valid.value_or(false), "a valid blueprint is refused");
    fuzz::check(fs::is_empty(creator.SKILLS_DIR), "a refused skill leaves a file behind");
    return 0;
  }

  fuzz::check(valid.value_or(is_script(*value)), "an invalid blueprint is accepted");
  fuzz::check(creator.get_improvement_log(0).size() == 1, "a creation is not logged once");
  SkillCreator restarted(scratch.path());
  fuzz::check(restarted.get_improvement_log(0).size() == 1, "the log does not survive a restart");
  if (is_script(*value)) return 0;

  fuzz::check(result.skill && registry._skills.contains(result.skill->name),
              "an accepted skill is not hot-loaded");
  const auto loaded = restarted.load_saved_skills();
  fuzz::check(loaded.size() == 1 &&
                  fuzz::text_of(loaded[0]->to_dict()) == fuzz::text_of(result.skill->to_dict()),
              "a stored skill loads back as another skill");
  return 0;
}
