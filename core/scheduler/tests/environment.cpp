#include "environment.hpp"

#include <stdlib.h>
#include <time.h>

namespace orvane::scheduler::testing {

const char* const HOME_VARIABLE = "HOME";

void set_environment(const char* name, const std::string& value) {
  ::setenv(name, value.c_str(), 1);
}

void reload_time_zone() {
  ::tzset();
}

}  // namespace orvane::scheduler::testing
