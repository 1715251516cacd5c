#include "whole_number.hpp"

#include <charconv>
#include <limits>

#include "output.hpp"

namespace orvane::app {

std::int64_t whole_number(std::string_view option, std::string_view text, std::int64_t min,
                          std::int64_t max, std::string_view unit) {
  std::int64_t value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (error == std::errc() && stop == end && value >= min && value <= max) return value;
  std::string range = max == std::numeric_limits<std::int64_t>::max()
                          ? ", " + std::to_string(min) + " or more,"
                          : " from " + std::to_string(min) + " to " + std::to_string(max) + ",";
  throw UsageError(std::string(option) + " must be a whole number" +
                   (unit.empty() ? "" : " of " + std::string(unit)) + range + " not '" +
                   std::string(text) + "'");
}

}  // namespace orvane::app
