// Any text is refused with InvalidValueError or gives a schedule whose next occurrence is exactly
// the minute that a plain minute-by-minute search with matches() finds.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "fuzz_support.hpp"
#include "orvane/scheduler/cron.hpp"

using namespace std::chrono;
using orvane::scheduler::CronExpression;
using orvane::scheduler::InvalidValueError;
using orvane::scheduler::LocalTime;
namespace fuzz = orvane::fuzz;

namespace {

// A start between 1950 and 2150 taken from the text, so that a kept input keeps its start.
LocalTime start_for(std::string_view text) {
  constexpr std::uint64_t span = 200ULL * 366 * 86400 * 1000000;
  const auto offset = microseconds(std::hash<std::string_view>{}(text) % span);
  return LocalTime(local_days(year(1950) / 1 / 1)) + offset;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto text = fuzz::as_text(data, size);
  std::optional<CronExpression> cron;
  try {
    cron.emplace(text);
  } catch (const InvalidValueError&) {
    return 0;
  }

  const LocalTime start = start_for(text);
  const LocalTime first = floor<minutes>(start) + minutes(1);
  std::optional<LocalTime> expected;
  for (int i = 0; i < CronExpression::SEARCH_MINUTES && !expected; ++i) {
    if (cron->matches(first + minutes(i))) expected = first + minutes(i);
  }

  try {
    const LocalTime next = cron->next_occurrence(start);
    fuzz::check(expected.has_value(), "an occurrence is found where no minute matches");
    fuzz::check(next == *expected, "the occurrence is not the first matching minute");
    fuzz::check(cron->matches(next + seconds(59) + microseconds(999999)),
                "seconds change whether a minute matches");
  } catch (const InvalidValueError& error) {
    fuzz::check(!expected, "no occurrence is found although a minute matches");
    fuzz::check(error.what() == "No next occurrence found for cron: " + cron->expression(),
                "the message of a search that finds nothing");
  }
  return 0;
}
