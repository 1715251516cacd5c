#include <time.h>

#include "system_time.hpp"

namespace orvane::host {

std::tm local_tm(std::time_t seconds) {
  std::tm tm{};
  ::localtime_r(&seconds, &tm);
  return tm;
}

}  // namespace orvane::host
