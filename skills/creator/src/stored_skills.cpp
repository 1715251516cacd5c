// The skills directory: loading, listing, showing and deleting stored skills.
#include <algorithm>
#include <system_error>

#include "improvement.hpp"
#include "log.hpp"
#include "names.hpp"
#include "orvane/skills/creator.hpp"
#include "remove_file.hpp"
#include "skill_object.hpp"

namespace orvane::skills {
namespace {

using json = nlohmann::ordered_json;
namespace fs = std::filesystem;

// The "*.json" entries directly in `dir`, in ascending order of path; none when it cannot be
// read.
std::vector<fs::path> json_files(const fs::path& dir) {
  std::vector<fs::path> files;
  std::error_code error;
  for (fs::directory_iterator it(dir, error), end; !error && it != end; it.increment(error)) {
    const auto name = it->path().filename().string();
    if (name.ends_with(".json")) files.push_back(it->path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::string stem_of(const fs::path& file) {
  const auto name = file.filename().string();
  return name.substr(0, name.size() - 5);
}

}  // namespace

std::vector<std::shared_ptr<DynamicSkill>> SkillCreator::load_saved_skills() const {
  std::vector<std::shared_ptr<DynamicSkill>> skills;
  for (const auto& file : json_files(SKILLS_DIR)) {
    try {
      auto blueprint = blueprint_from(read_json_object(file), stem_of(file), true);
      const auto loaded = blueprint.name + " v" + std::to_string(blueprint.version);
      skills.push_back(std::make_shared<DynamicSkill>(std::move(blueprint)));
      creator_log().info("{}", "Loaded saved skill: " + loaded);
    } catch (const std::exception& error) {
      creator_log().warn("{}", "Failed to load skill from " + file.string() + ": " + error.what());
    }
  }
  return skills;
}

std::size_t SkillCreator::load_into_registry(host::SkillRegistry& registry) const {
  const auto skills = load_saved_skills();
  for (const auto& skill : skills) registry.register_skill(skill);
  return skills.size();
}

DeletionResult SkillCreator::delete_skill(const std::string& name, host::SkillRegistry* registry) {
  if (!is_safe_file_stem(name)) return {false, "Invalid skill name: " + name};
  const auto file = SKILLS_DIR / (name + ".json");
  std::error_code error;
  if (!fs::exists(file, error)) return {false, "Skill '" + name + "' not found"};
  try {
    remove_file(file);
  } catch (const std::system_error& failure) {
    return {false, std::string("Failed to delete: ") + failure.what()};
  }
  if (registry != nullptr) registry->_skills.erase(name);
  _log_improvement(new_entry("deleted", name, "Skill deleted by agent or user"));
  return {true, "Deleted skill '" + name + "'"};
}

// Read as load_saved_skills reads: a file listed is a file loaded, with the same values.
std::vector<json> SkillCreator::list_saved_skills() const {
  std::vector<json> entries;
  for (const auto& file : json_files(SKILLS_DIR)) {
    try {
      const auto blueprint = blueprint_from(read_json_object(file), stem_of(file), true);
      entries.push_back({{"name", blueprint.name},
                         {"description", blueprint.description},
                         {"app", blueprint.app},
                         {"category", blueprint.category},
                         {"version", blueprint.version},
                         {"triggers", blueprint.triggers},
                         {"steps_count", blueprint.steps.size()},
                         {"reason", blueprint.reason},
                         {"file", file.string()}});
    } catch (const std::exception&) {
      // A file that cannot be read is simply not listed.
    }
  }
  return entries;
}

std::optional<json> SkillCreator::get_skill_source(const std::string& name) const {
  if (!is_safe_file_stem(name)) return std::nullopt;
  try {
    return read_json_object(SKILLS_DIR / (name + ".json"));
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

}  // namespace orvane::skills
