#include <time.h>

#include "system_time.hpp"

namespace orvane::host {

std::tm local_tm(std::time_t seconds) {
  std::tm tm{};
  ::localtime_s(&tm, &seconds);  // the CRT's argument order: result first
  return tm;
}

}  // namespace orvane::host
