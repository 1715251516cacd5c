#pragma once
// Local date-times as text.
#include <chrono>
#include <string>

namespace orvane::common {

// A naive local date-time as strftime's `pattern` writes it, e.g. "%Y-%m-%d %H:%M:%S".
std::string format_local(std::chrono::local_time<std::chrono::microseconds> time,
                         const char* pattern);

}  // namespace orvane::common
