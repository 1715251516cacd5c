#include <stdlib.h>
#include <time.h>

#include "environment.hpp"

namespace orvane::scheduler::testing {

const char* const HOME_VARIABLE = "USERPROFILE";

// The CRT's copy of the environment, which getenv and _tzset read.
void set_environment(const char* name, const std::string& value) {
  ::_putenv_s(name, value.c_str());
}

void reload_time_zone() {
  ::_tzset();
}

}  // namespace orvane::scheduler::testing
