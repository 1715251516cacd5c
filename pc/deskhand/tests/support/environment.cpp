#include "support/environment.hpp"

#include <stdlib.h>

namespace orvane::pc::testing {

const char* const HOME_VARIABLE = "HOME";

void set_environment(const char* name, const std::string& value) {
  ::setenv(name, value.c_str(), 1);
}

void unset_environment(const char* name) {
  ::unsetenv(name);
}

}  // namespace orvane::pc::testing
