#include "skill_key_hints.hpp"

#include <array>
#include <string_view>

namespace orvane::app {
namespace {

struct Hint {
  std::string_view words;  // how the line starts, after a "Step N: " label
  std::string_view key;
};

constexpr std::array<Hint, 11> HINTS{{
    {"Skill name ", "key \"name\""},
    {"Description is required", "key \"description\""},
    {"App name is required", "key \"app\""},
    {"Invalid category: ", "key \"category\""},
    {"At least one trigger keyword is required", "key \"triggers\""},
    {"At least one step is required", "key \"steps\""},
    {"Python code is required", "key \"code\""},
    {"Code must define ", "key \"code\""},
    {"operation is required", "key \"operation\" of the step in \"steps\""},
    {"unknown operation ", "key \"operation\" of the step in \"steps\""},
    {"description is required", "key \"description\" of the step in \"steps\""},
}};

std::string hinted(std::string_view line) {
  std::string_view words = line;
  if (words.starts_with("  - ")) words.remove_prefix(4);  // an item of the validation list
  if (words.starts_with("Step ")) {
    const auto colon = words.find(": ");
    if (colon != std::string_view::npos) words.remove_prefix(colon + 2);
  }
  for (const auto& hint : HINTS) {
    if (words.starts_with(hint.words))
      return std::string(line) + " (" + std::string(hint.key) + ")";
  }
  return std::string(line);
}

}  // namespace

std::string with_key_hints(const std::string& message) {
  std::string result;
  std::size_t start = 0;
  for (;;) {
    const auto end = message.find('\n', start);
    result += hinted(std::string_view(message).substr(start, end - start));
    if (end == std::string::npos) return result;
    result += '\n';
    start = end + 1;
  }
}

}  // namespace orvane::app
