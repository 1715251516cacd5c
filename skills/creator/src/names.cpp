#include "names.hpp"

#include "orvane/common/unicode.hpp"

namespace orvane::skills {
namespace {

std::u32string lenient_code_points(std::string_view text) {
  return common::decode_utf8(common::replace_invalid_utf8(text));
}

}  // namespace

NameProblem check_skill_name(std::string_view name) {
  if (name.empty()) return NameProblem::missing;
  std::u32string rest;
  for (char32_t c : lenient_code_points(name))
    if (c != U'_') rest += c;
  if (rest.empty()) return NameProblem::not_alphanumeric;
  for (char32_t c : rest)
    if (!common::is_alnum(c)) return NameProblem::not_alphanumeric;
  return NameProblem::none;
}

bool is_safe_file_stem(std::string_view name) {
  return !name.empty() && name != ".." &&
         name.find_first_of(std::string_view("/\\\0", 3)) == std::string_view::npos;
}

std::vector<std::string> placeholder_names(std::string_view text) {
  std::vector<std::string> names;
  const std::u32string s = lenient_code_points(text);
  for (std::size_t i = 0; i + 1 < s.size();) {
    if (s[i] != U'{' || s[i + 1] != U'{') {
      ++i;
      continue;
    }
    // \w+ takes the longest run; since "}" is no word character, a shorter run cannot help.
    std::size_t end = i + 2;
    while (end < s.size() && common::is_word_char(s[end])) ++end;
    if (end > i + 2 && end + 1 < s.size() && s[end] == U'}' && s[end + 1] == U'}') {
      names.push_back(common::encode_utf8(std::u32string_view(s).substr(i + 2, end - i - 2)));
      i = end + 2;
    } else {
      ++i;
    }
  }
  return names;
}

}  // namespace orvane::skills
