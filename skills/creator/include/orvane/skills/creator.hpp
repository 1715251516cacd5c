#pragma once
// The skill creator: validates the skills the agent designs or writes for itself, stores them in
// <data>/skills/, loads them back, hot-loads them into the host's registry, deletes them, and
// keeps a log of these self-improvement actions in <data>/improvement_log.json.
//
// Every operation answers the agent's expected failures as values (a success flag and a message
// written for the agent). Exceptions are left for a registry that throws (create_skill,
// load_into_registry), a skills directory that cannot be created (the constructor), and a
// script that the Python compiler rejects for a reason other than its syntax or its encoding
// (create_from_dict, CompileError). Not thread-safe: one caller at a time.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "orvane/host/skills.hpp"
#include "orvane/skills/skill.hpp"

namespace orvane::skills {

// The Python compiler failed on a script skill's code for a reason other than its syntax (for
// example a NUL character); what() is the compiler's message.
class CompileError : public std::runtime_error {
 public:
  CompileError(std::string type, const std::string& message)
      : std::runtime_error(message), _type(std::move(type)) {}
  // The Python exception's type name, e.g. "ValueError".
  const std::string& type() const { return _type; }

 private:
  std::string _type;
};

// One line of the improvement log. Fields hold JSON values because a loaded log keeps whatever
// its file holds.
struct ImprovementEntry {
  nlohmann::ordered_json timestamp;  // local time, "%Y-%m-%d %H:%M:%S"
  nlohmann::ordered_json action;     // "created", "updated", "deleted" or "learned"
  nlohmann::ordered_json skill_name;
  nlohmann::ordered_json reason;
  nlohmann::ordered_json details = nlohmann::ordered_json::object();
  nlohmann::ordered_json success = true;

  nlohmann::ordered_json to_dict() const;
};

struct CreationResult {
  bool success = false;
  std::string message;
  std::shared_ptr<DynamicSkill> skill;  // the new skill after a simple creation, else null
};

struct DeletionResult {
  bool success = false;
  std::string message;
};

class SkillCreator {
 public:
  static const std::set<std::string> VALID_CATEGORIES;  // 21 names
  static const std::set<std::string> VALID_OPERATIONS;  // the host "pc" tool's 41 operations

  // `data_dir` defaults to the home directory's ".orvane". Creates SKILLS_DIR (throws
  // std::filesystem::filesystem_error when it cannot) and loads the improvement log.
  explicit SkillCreator(std::optional<std::filesystem::path> data_dir = std::nullopt);

  const std::filesystem::path SKILLS_DIR;       // <data>/skills
  const std::filesystem::path IMPROVEMENT_LOG;  // <data>/improvement_log.json

  // (is_valid, errors in the order of the checks). Throws SkillDataError for input of the
  // wrong shape.
  std::pair<bool, std::vector<std::string>> validate_blueprint(
      const SkillBlueprint& blueprint) const;

  // Validates, stores (raising the version of a stored skill of the same name, which it writes
  // into `blueprint`), registers in `registry` when one is given, and logs the creation.
  CreationResult create_skill(SkillBlueprint& blueprint, host::SkillRegistry* registry = nullptr);

  // A skill object as the model wrote it: "type" "python" is a script skill (name, code,
  // description, ...), anything else a simple skill (name, description, app, category,
  // triggers, required_params, optional_params, steps, reason). Throws only CompileError.
  CreationResult create_from_dict(const nlohmann::ordered_json& data,
                                  host::SkillRegistry* registry = nullptr);
  // The script path of create_from_dict; `registry` is not used.
  CreationResult _create_python_skill(const nlohmann::ordered_json& data,
                                      host::SkillRegistry* registry = nullptr);

  // Every "*.json" file of SKILLS_DIR in path order, as a skill; unreadable files and files with
  // members of the wrong kind are skipped with a warning. A "version" that is no number loads as
  // 1, a fraction as its whole part.
  std::vector<std::shared_ptr<DynamicSkill>> load_saved_skills() const;
  // Registers every stored skill; returns how many were loaded.
  std::size_t load_into_registry(host::SkillRegistry& registry) const;

  // Removes <name>.json (a script's .py stays) and the registry entry of `name`.
  DeletionResult delete_skill(const std::string& name, host::SkillRegistry* registry = nullptr);
  // {"name", "description", "app", "category", "version", "triggers", "steps_count", "reason",
  // "file"} per skill that load_saved_skills loads, in path order, with the values it loads.
  std::vector<nlohmann::ordered_json> list_saved_skills() const;
  // The stored object of `name`, or nullopt.
  std::optional<nlohmann::ordered_json> get_skill_source(const std::string& name) const;

  // Records that the agent learned something about a skill; `details` defaults to {}.
  void log_learning(const std::string& skill_name, const std::string& reason,
                    const std::optional<nlohmann::ordered_json>& details = std::nullopt);
  // The last `limit` entries, oldest first: 0 gives all, -k all after the first k.
  std::vector<nlohmann::ordered_json> get_improvement_log(std::int64_t limit = 50) const;
  // {"total_improvements", "skills_created", "skills_updated", "skills_deleted",
  // "learnings_recorded", "active_custom_skills", "categories_covered"}.
  nlohmann::ordered_json get_improvement_stats() const;

 private:
  void _log_improvement(ImprovementEntry entry);
  void _save_improvement_log() const;
  void _load_improvement_log();

  std::vector<ImprovementEntry> _improvement_log;
};

// The process-wide creator, made on first use with the default data directory.
SkillCreator& get_skill_creator();

}  // namespace orvane::skills
