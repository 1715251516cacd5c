#include <stdlib.h>

#include "support/environment.hpp"

namespace orvane::pc::testing {

const char* const HOME_VARIABLE = "USERPROFILE";

// The CRT's copy of the environment, which getenv reads; an empty value removes the variable.
void set_environment(const char* name, const std::string& value) {
  ::_putenv_s(name, value.c_str());
}

void unset_environment(const char* name) {
  ::_putenv_s(name, "");
}

}  // namespace orvane::pc::testing
