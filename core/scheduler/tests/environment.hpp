#pragma once
// Process environment for the tests, whose calls differ by system.
#include <string>

namespace orvane::scheduler::testing {

// The variable the host reads the home directory from.
extern const char* const HOME_VARIABLE;

void set_environment(const char* name, const std::string& value);

// The C library's local time zone from TZ again.
void reload_time_zone();

}  // namespace orvane::scheduler::testing
