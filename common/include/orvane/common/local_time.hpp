#pragma once
// Local date-times as text.
#include <chrono>
#include <ctime>
#include <string>

namespace orvane::common {

// The broken-down form of a naive local date-time, with tm_isdst -1 (not known).
std::tm to_tm(std::chrono::local_time<std::chrono::microseconds> time);

// A naive local date-time as strftime's `pattern` writes it, e.g. "%Y-%m-%d %H:%M:%S".
std::string format_local(std::chrono::local_time<std::chrono::microseconds> time,
                         const char* pattern);

}  // namespace orvane::common
