#pragma once
// The rules for skill names and placeholders, on Unicode text.
#include <string>
#include <string_view>
#include <vector>

namespace orvane::skills {

enum class NameProblem { none, missing, not_alphanumeric };

// A name is letters and numeric characters of any script, joined by underscores. Bytes that are
// not UTF-8 are neither.
NameProblem check_skill_name(std::string_view name);

// False for names whose file could lie outside the skills directory, or that the file system
// would cut short: empty, "..", or holding "/", "\" or a NUL.
bool is_safe_file_stem(std::string_view name);

// The names that "\{\{(\w+)\}\}" captures in `text`, left to right, with \w as Python's re
// module has it for text: "_" and every alphanumeric character.
std::vector<std::string> placeholder_names(std::string_view text);

}  // namespace orvane::skills
