#pragma once
// The C library's thread-safe localtime, whose name and argument order differ by system.
#include <ctime>

namespace orvane::scheduler {

// `seconds` in the local time zone; false when the C library cannot represent it.
bool to_local_tm(std::time_t seconds, std::tm& out);

}  // namespace orvane::scheduler
