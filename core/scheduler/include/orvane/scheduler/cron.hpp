#pragma once
// Five-field cron schedules (min hour dom month dow): numbers, "*", lists, ranges and steps.
#include <chrono>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "orvane/scheduler/error.hpp"

namespace orvane::scheduler {

// A naive local wall-clock date-time (no zone); minutes are added with plain calendar arithmetic.
using LocalTime = std::chrono::local_time<std::chrono::microseconds>;

class CronExpression {
 public:
  // Throws InvalidValueError when the text is not a valid schedule.
  explicit CronExpression(std::string_view expression);

  const std::string& expression() const { return _expr; }

  // True when `dt` falls in an allowed minute; seconds play no part.
  bool matches(LocalTime dt) const;

  // The first matching minute strictly after the minute that contains `after` (absent: now),
  // within 527040 minutes (366 days). Throws InvalidValueError when there is none.
  LocalTime next_occurrence(std::optional<LocalTime> after = std::nullopt) const;

  // The day-of-week set in Monday-first numbering (0 = Monday ... 6 = Sunday).
  std::set<int> _dow_adjusted() const;

  // One field as the set of allowed values; values outside [min_val, max_val] are dropped.
  static std::set<int> _parse_field(std::string_view field_str, int min_val, int max_val);

  // Number of minutes the search looks at.
  static constexpr int SEARCH_MINUTES = 366 * 1440;

 private:
  std::string _expr;
  // Allowed values as bit masks: bit v set when v is allowed. _dow uses cron numbering
  // (0 = Sunday), the same as std::chrono::weekday::c_encoding().
  std::uint64_t _minute = 0;
  std::uint32_t _hour = 0;
  std::uint32_t _dom = 0;
  std::uint16_t _month = 0;
  std::uint8_t _dow = 0;
};

}  // namespace orvane::scheduler
