// The improvement log: entries in memory, the whole log rewritten to its file after each append.
#include <algorithm>
#include <set>

#include "improvement.hpp"
#include "log.hpp"
#include "orvane/common/json_read.hpp"
#include "orvane/common/json_utf8.hpp"
#include "orvane/common/local_time.hpp"
#include "orvane/common/path_text.hpp"
#include "orvane/common/set_aside.hpp"
#include "orvane/host/clock.hpp"
#include "skill_object.hpp"
#include "text_form.hpp"

namespace orvane::skills {
namespace {

using json = nlohmann::ordered_json;

const std::set<std::string> ENTRY_FIELDS = {"timestamp", "action",  "skill_name",
                                            "reason",    "details", "success"};

ImprovementEntry entry_from(const json& item, std::size_t index) {
  const std::string label = "entry " + std::to_string(index + 1);
  if (!item.is_object()) throw SkillDataError(label + " is " + kind_name(item) + ", not an object");
  for (const auto& [key, value] : item.items()) {
    if (!ENTRY_FIELDS.contains(key))
      throw SkillDataError(label + " has an unknown key '" + key + "'");
  }
  for (const char* key : {"timestamp", "action", "skill_name", "reason"}) {
    if (!item.contains(key)) throw SkillDataError(label + " lacks '" + key + "'");
  }
  ImprovementEntry entry{.timestamp = item.at("timestamp"),
                         .action = item.at("action"),
                         .skill_name = item.at("skill_name"),
                         .reason = item.at("reason")};
  if (item.contains("details")) entry.details = item.at("details");
  if (item.contains("success")) entry.success = item.at("success");
  return entry;
}

// True when `value` holds binary data or a discarded value, which have no JSON text. `value` must
// be kept within MAX_JSON_DEPTH.
bool holds_what_json_cannot_write(const json& value) {
  if (value.is_binary() || value.is_discarded()) return true;
  if (!value.is_structured()) return false;
  return std::any_of(value.begin(), value.end(), holds_what_json_cannot_write);
}

// A value given for an entry, as the log file can hold it and read it back: texts that are not
// UTF-8 (a name taken from a file name, say) show U+FFFD, and a value too deep for the file (the
// list and the entry take two of its levels) or with no JSON text becomes a note, with the
// problem added to `problems`. Any of these would otherwise make every later save, or the next
// load, of the whole log fail.
json storable(const json& value, const std::string& field, std::vector<std::string>& problems) {
  std::string problem;
  if (common::nests_deeper_than(value, common::MAX_JSON_DEPTH - 2)) {
    problem = field + " nested too deeply to store";
  } else if (holds_what_json_cannot_write(value)) {
    problem = field + " holding a value with no JSON text";
  } else {
    return common::valid_utf8_json(value);
  }
  problems.push_back(problem);
  return {{"note", problem}};
}

}  // namespace

json ImprovementEntry::to_dict() const {
  return {{"timestamp", timestamp}, {"action", action},   {"skill_name", skill_name},
          {"reason", reason},       {"details", details}, {"success", success}};
}

ImprovementEntry new_entry(std::string action, const json& skill_name, const json& reason,
                           const json& details) {
  std::vector<std::string> problems;
  ImprovementEntry entry{
      .timestamp = common::format_local(host::clock().local_now(), "%Y-%m-%d %H:%M:%S"),
      .action = std::move(action),
      .skill_name = storable(skill_name, "skill name", problems),
      .reason = storable(reason, "reason", problems),
      .details = storable(details, "details", problems)};
  for (const auto& problem : problems) {
    creator_log().warn("{}", "Improvement log entry for skill " + text_form(entry.skill_name) +
                                 ": " + problem + "; a note stands in its place");
  }
  return entry;
}

void SkillCreator::_log_improvement(ImprovementEntry entry) {
  _improvement_log.push_back(std::move(entry));
  _save_improvement_log();
}

void SkillCreator::_save_improvement_log() const {
  try {
    std::filesystem::create_directories(IMPROVEMENT_LOG.parent_path());
    json entries = json::array();
    for (const auto& entry : _improvement_log) entries.push_back(entry.to_dict());
    write_json_file(IMPROVEMENT_LOG, entries);
  } catch (const std::exception& error) {
    creator_log().warn("{}", std::string("Failed to save improvement log: ") + error.what());
  }
}

void SkillCreator::_load_improvement_log() {
  std::error_code error;
  if (!std::filesystem::exists(std::filesystem::symlink_status(IMPROVEMENT_LOG, error))) return;
  try {
    const json data = read_json_file(IMPROVEMENT_LOG);
    if (!data.is_array()) {
      throw SkillDataError("the file holds " + kind_name(data) + ", not a list");
    }
    std::vector<ImprovementEntry> entries;
    entries.reserve(data.size());
    for (std::size_t i = 0; i < data.size(); ++i) entries.push_back(entry_from(data[i], i));
    _improvement_log = std::move(entries);
  } catch (const std::exception& failure) {
    creator_log().warn("{}", std::string("Failed to load improvement log: ") + failure.what());
    _improvement_log.clear();
    // The next save would replace the file with the empty log: keep what it held.
    try {
      const auto target = common::set_aside(IMPROVEMENT_LOG, host::clock().local_now());
      creator_log().warn("{}",
                         "Unreadable improvement log set aside as " + common::utf8_of(target));
    } catch (const std::filesystem::filesystem_error& move_error) {
      creator_log().error("{}",
                          "Failed to set aside improvement log: " + move_error.code().message());
    }
  }
}

void SkillCreator::log_learning(const std::string& skill_name, const std::string& reason,
                                const std::optional<json>& details) {
  const json none = json::object();
  const bool given = details && !details->is_null() && !details->empty();
  _log_improvement(new_entry("learned", skill_name, reason, given ? *details : none));
}

std::vector<json> SkillCreator::get_improvement_log(std::int64_t limit) const {
  const std::size_t count = _improvement_log.size();
  std::size_t first = 0;
  if (limit > 0) {
    first = std::uint64_t(limit) >= count ? 0 : count - std::size_t(limit);
  } else if (limit < 0) {
    const std::uint64_t skipped = 0 - std::uint64_t(limit);  // well defined for INT64_MIN too
    first = skipped >= count ? count : std::size_t(skipped);
  }
  std::vector<json> entries;
  for (std::size_t i = first; i < count; ++i) entries.push_back(_improvement_log[i].to_dict());
  return entries;
}

json SkillCreator::get_improvement_stats() const {
  const auto count = [this](const char* action) {
    std::size_t n = 0;
    for (const auto& entry : _improvement_log) n += entry.action == action ? 1 : 0;
    return n;
  };
  const auto skills = list_saved_skills();
  json categories = json::array();
  for (const auto& skill : skills) {
    const auto& category = skill["category"];
    if (std::find(categories.begin(), categories.end(), category) == categories.end())
      categories.push_back(category);
  }
  return {{"total_improvements", _improvement_log.size()},
          {"skills_created", count("created")},
          {"skills_updated", count("updated")},
          {"skills_deleted", count("deleted")},
          {"learnings_recorded", count("learned")},
          {"active_custom_skills", skills.size()},
          {"categories_covered", std::move(categories)}};
}

}  // namespace orvane::skills
