#pragma once
// The system's broken-down local time, with the platform's thread-safe call.
#include <ctime>

namespace orvane::host {

// `seconds` since the Unix epoch in the system's time zone.
std::tm local_tm(std::time_t seconds);

}  // namespace orvane::host
