#include "local_tm.hpp"

namespace orvane::scheduler {

// The CRT's localtime_s takes the result first and answers 0 on success; it covers the years
// 1970 to 3000.
bool to_local_tm(std::time_t seconds, std::tm& out) {
  return ::localtime_s(&out, &seconds) == 0;
}

}  // namespace orvane::scheduler
