#include <cerrno>
#include <ctime>

#include "state.hpp"

namespace orvane::scheduler {
namespace {

std::tm to_tm(LocalTime time) {
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
  tm.tm_isdst = -1;
  return tm;
}

}  // namespace

double to_epoch_seconds(LocalTime time) {
  using namespace std::chrono;
  std::tm tm = to_tm(time);
  tm.tm_wday = -1;  // mktime sets it on success; -1 is also a valid result, so it tells them apart
  const std::time_t seconds = std::mktime(&tm);
  if (seconds == -1 && tm.tm_wday == -1) {
    throw InvalidValueError("Local time out of range");
  }
  const auto fraction = time - floor<std::chrono::seconds>(time);
  return double(seconds) + duration<double>(fraction).count();
}

}  // namespace orvane::scheduler
