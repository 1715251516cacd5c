#include "local_minute.hpp"

#include <ctime>

namespace orvane::app {
namespace {

// `count` digits at `at`, or -1.
int digits(std::string_view text, std::size_t at, std::size_t count) {
  int value = 0;
  for (std::size_t i = at; i < at + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return -1;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

}  // namespace

std::optional<double> parse_local_minute(std::string_view text) {
  //                      0123456789012345
  constexpr std::string_view shape = "YYYY-MM-DD HH:MM";
  if (text.size() != shape.size() || text[4] != '-' || text[7] != '-' || text[10] != ' ' ||
      text[13] != ':') {
    return std::nullopt;
  }
  const int year = digits(text, 0, 4), month = digits(text, 5, 2), day = digits(text, 8, 2);
  const int hour = digits(text, 11, 2), minute = digits(text, 14, 2);
  if (year < 1970 || month < 1 || day < 1 || hour < 0 || hour > 23 || minute < 0 || minute > 59) {
    return std::nullopt;
  }
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_isdst = -1;
  const std::time_t seconds = std::mktime(&tm);
  // mktime carries overflowing fields over ("02-30" becomes "03-02", a skipped hour moves on):
  // such a text names no minute of this clock.
  if (seconds == -1 || tm.tm_year != year - 1900 || tm.tm_mon != month - 1 || tm.tm_mday != day ||
      tm.tm_hour != hour || tm.tm_min != minute) {
    return std::nullopt;
  }
  return static_cast<double>(seconds);
}

}  // namespace orvane::app
