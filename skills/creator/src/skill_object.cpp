#include "skill_object.hpp"

#include <cmath>
#include <limits>

#include "orvane/common/file_io.hpp"
#include "orvane/common/json_read.hpp"
#include "orvane/common/json_text.hpp"
#include "orvane/common/json_utf8.hpp"
#include "text_form.hpp"

namespace orvane::skills {

using json = nlohmann::ordered_json;

std::string text_member(const json& object, const char* key, const std::string& fallback) {
  const auto it = object.find(key);
  if (it == object.end()) return fallback;
  if (it->is_null()) return "";  // empty, as an absent value would be judged
  if (!it->is_string()) {
    throw SkillDataError(std::string("'") + key + "' must be text, not " + kind_name(*it));
  }
  return it->get<std::string>();
}

namespace {

std::vector<std::string> text_list_member(const json& object, const char* key) {
  const auto it = object.find(key);
  if (it == object.end()) return {};
  if (!it->is_array()) {
    throw SkillDataError(std::string("'") + key + "' must be a list of texts, not " +
                         kind_name(*it));
  }
  std::vector<std::string> texts;
  for (const auto& item : *it) {
    if (!item.is_string()) {
      throw SkillDataError(std::string("'") + key + "' must be a list of texts, but holds " +
                           kind_name(item));
    }
    texts.push_back(item.get<std::string>());
  }
  return texts;
}

// As text_member, and a value of another kind as its text form.
std::string stored_text_member(const json& object, const char* key, const std::string& fallback) {
  const auto it = object.find(key);
  if (it == object.end() || it->is_string() || it->is_null()) {
    return text_member(object, key, fallback);
  }
  return text_form(*it);
}

std::vector<json> list_member(const json& object, const char* key) {
  const auto it = object.find(key);
  if (it == object.end()) return {};
  if (!it->is_array()) {
    throw SkillDataError(std::string("'") + key + "' must be a list, not " + kind_name(*it));
  }
  return it->get<std::vector<json>>();
}

}  // namespace

void require_utf8_members(const json& object, std::initializer_list<const char*> keys) {
  for (const char* key : keys) {
    const auto it = object.find(key);
    if (it != object.end() && !common::is_valid_utf8_json(*it)) {
      throw SkillDataError(std::string("'") + key + "' holds text that is not valid UTF-8");
    }
  }
}

SkillBlueprint blueprint_from(const json& object, const std::string& default_name, bool stored) {
  if (common::nests_deeper_than(object)) {
    throw SkillDataError("the skill is nested more than " + std::to_string(common::MAX_JSON_DEPTH) +
                         " levels deep");
  }
  // A name that is not UTF-8 is left to the name rules, which refuse it.
  require_utf8_members(object, {"description", "app", "category", "triggers", "required_params",
                                "optional_params", "steps", "reason"});
  // A script skill's metadata keeps the app, category and reason it was given, of any kind.
  const auto given_text = stored ? stored_text_member : text_member;
  SkillBlueprint blueprint{
      .name = text_member(object, "name", default_name),
      .description = text_member(object, "description"),
      .app = given_text(object, "app", ""),
      .category = given_text(object, "category", "custom"),
      .triggers = object.value("triggers", json::array()),
      .required_params = text_list_member(object, "required_params"),
      .optional_params = text_list_member(object, "optional_params"),
      .steps = list_member(object, "steps"),
      .reason = given_text(object, "reason", ""),
  };
  if (stored) {
    if (const auto it = object.find("version"); it != object.end()) {
      blueprint.version = integer_version(*it).value_or(1);
    }
  }
  return blueprint;
}

std::optional<std::int64_t> integer_version(const json& value) {
  if (value.is_number_unsigned()) {
    const auto v = value.get<std::uint64_t>();
    if (v > std::uint64_t(std::numeric_limits<std::int64_t>::max())) return std::nullopt;
    return std::int64_t(v);
  }
  if (value.is_number_integer()) return value.get<std::int64_t>();
  if (value.is_number_float()) {
    // The whole part, as int() takes it; 2^63 itself is out of range, and NaN compares false.
    const double v = std::trunc(value.get<double>());
    if (std::fabs(v) < 9223372036854775808.0) return std::int64_t(v);
  }
  return std::nullopt;
}

std::optional<std::int64_t> next_version(const std::filesystem::path& file) {
  try {
    const json stored = read_json_object(file);
    const auto it = stored.find("version");
    const auto version = it == stored.end() ? std::optional<std::int64_t>(1) : integer_version(*it);
    if (!version || *version == std::numeric_limits<std::int64_t>::max()) return std::nullopt;
    return *version + 1;
  } catch (const std::exception&) {
    return std::nullopt;  // an unreadable earlier skill does not stop its replacement
  }
}

json read_json_file(const std::filesystem::path& file) {
  // The writer puts numbers that are not finite as NaN and Infinity, as Python's json does.
  return common::parse_python_json(common::read_file(file));
}

json read_json_object(const std::filesystem::path& file) {
  json value = read_json_file(file);
  if (!value.is_object()) {
    throw SkillDataError("the file holds " + kind_name(value) + ", not an object");
  }
  return value;
}

void write_json_file(const std::filesystem::path& file, const json& value) {
  common::write_file_atomic(file, common::dump_python_json(value, 2));
}

}  // namespace orvane::skills
