#include <algorithm>
#include <iterator>

#include "orvane/common/unicode.hpp"
#include "unicode_case.hpp"
#include "unicode_tables.hpp"  // made at build time by make_unicode_tables.py

namespace orvane::common {
namespace {

namespace tables = unicode_tables;

unsigned char kind(char32_t c) {
  // The last run that starts at or before `c`; the first run starts at 0.
  const auto after =
      std::upper_bound(std::begin(tables::RUNS), std::end(tables::RUNS), c,
                       [](char32_t key, const auto& run) { return key < run.first; });
  return std::prev(after)->kind;
}

}  // namespace

bool is_alpha(char32_t c) {
  return kind(c) & tables::LETTER;
}

bool is_numeric(char32_t c) {
  return kind(c) & tables::NUMBER;
}

bool is_space(char32_t c) {
  return kind(c) & tables::SPACE;
}

char32_t simple_lower(char32_t c) {
  const auto* found =
      std::lower_bound(std::begin(tables::LOWER_CASE), std::end(tables::LOWER_CASE), c,
                       [](const auto& entry, char32_t key) { return entry.from < key; });
  return found != std::end(tables::LOWER_CASE) && found->from == c ? found->to : c;
}

}  // namespace orvane::common
