#pragma once
// Process environment for the tests, whose calls differ by system.
#include <string>

namespace orvane::pc::testing {

// The variable the host reads the home directory from.
extern const char* const HOME_VARIABLE;

void set_environment(const char* name, const std::string& value);
void unset_environment(const char* name);

}  // namespace orvane::pc::testing
