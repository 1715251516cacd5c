#include "orvane/common/local_time.hpp"

#include <ctime>

namespace orvane::common {

std::tm to_tm(std::chrono::local_time<std::chrono::microseconds> time) {
  using namespace std::chrono;
  const auto day = floor<days>(time);
  const year_month_day date{day};
  const hh_mm_ss clock_time{floor<seconds>(time - day)};
  std::tm tm{};
  tm.tm_year = int(date.year()) - 1900;
  tm.tm_mon = int(unsigned(date.month())) - 1;
  tm.tm_mday = int(unsigned(date.day()));
  tm.tm_hour = int(clock_time.hours().count());
  tm.tm_min = int(clock_time.minutes().count());
  tm.tm_sec = int(clock_time.seconds().count());
  tm.tm_wday = int(weekday{day}.c_encoding());
  tm.tm_yday = int((day - local_days{date.year() / January / 1}).count());
  tm.tm_isdst = -1;
  return tm;
}

std::string format_local(std::chrono::local_time<std::chrono::microseconds> time,
                         const char* pattern) {
  const std::tm tm = to_tm(time);
  char text[128];
  const auto n = std::strftime(text, sizeof text, pattern, &tm);
  return std::string(text, n);
}

}  // namespace orvane::common
