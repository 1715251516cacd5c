#include <cerrno>
#include <ctime>

#include "orvane/common/local_time.hpp"
#include "state.hpp"

namespace orvane::scheduler {

double to_epoch_seconds(LocalTime time) {
  using namespace std::chrono;
  std::tm tm = common::to_tm(time);
  tm.tm_wday = -1;  // mktime sets it on success; -1 is also a valid result, so it tells them apart
  const std::time_t seconds = std::mktime(&tm);
  if (seconds == -1 && tm.tm_wday == -1) {
    throw InvalidValueError("Local time out of range");
  }
  const auto fraction = time - floor<std::chrono::seconds>(time);
  return double(seconds) + duration<double>(fraction).count();
}

}  // namespace orvane::scheduler
