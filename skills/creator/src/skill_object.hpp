#pragma once
// Skills as JSON objects: reading their fields, and their files.
#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "orvane/skills/skill.hpp"

namespace orvane::skills {

// Member `key` as text, `fallback` when absent; SkillDataError when it is of another kind.
std::string text_member(const nlohmann::ordered_json& object, const char* key,
                        const std::string& fallback = "");

// SkillDataError naming the first of `keys` whose member holds a text or member name that is not
// UTF-8, which no skill file could hold. `object` must be kept within MAX_JSON_DEPTH.
void require_utf8_members(const nlohmann::ordered_json& object,
                          std::initializer_list<const char*> keys);

// A blueprint from a skill object: "name" (else `default_name`), "description", "app",
// "category" (else "custom"), "triggers" (any JSON value, else []), "required_params",
// "optional_params", "steps", "reason". A `stored` object also gives "version" (else 1; 1 too
// when integer_version cannot read it), and its "app", "category" and "reason" may be of any
// kind, read as their text form. SkillDataError for other members of the wrong kind and for texts
// that are not UTF-8.
SkillBlueprint blueprint_from(const nlohmann::ordered_json& object, const std::string& default_name,
                              bool stored);

// A stored version number as an integer, a fraction by its whole part (2.5 is 2); nullopt for
// texts, null, booleans, NaN, the infinities and numbers beyond 64 bits.
std::optional<std::int64_t> integer_version(const nlohmann::ordered_json& value);

// The version after the one stored in `file`'s "version" (1 when absent), or nullopt when the
// file cannot be read, holds no object, or its version is not an integer below the largest.
std::optional<std::int64_t> next_version(const std::filesystem::path& file);

// The file's JSON; throws when it cannot be read or parsed or nests too deeply.
nlohmann::ordered_json read_json_file(const std::filesystem::path& file);
// The file's JSON object; throws SkillDataError when it holds another kind.
nlohmann::ordered_json read_json_object(const std::filesystem::path& file);
// Replaces the file, atomically, with the value as two-space indented ASCII JSON.
void write_json_file(const std::filesystem::path& file, const nlohmann::ordered_json& value);

}  // namespace orvane::skills
