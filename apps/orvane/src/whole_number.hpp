#pragma once
// Whole-number options read with a message a person understands when they are out of range.
#include <cstdint>
#include <string>
#include <string_view>

namespace orvane::app {

// `text` as a decimal whole number in [min, max]. Anything else (a sign where none is allowed,
// a fraction, a value beyond the range) is a UsageError such as "--every must be a whole number
// of seconds from 1 to 3155760000, not '0'".
std::int64_t whole_number(std::string_view option, std::string_view text, std::int64_t min,
                          std::int64_t max, std::string_view unit = {});

}  // namespace orvane::app
