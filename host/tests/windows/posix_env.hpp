#pragma once
// setenv and unsetenv for the shared test files, which set variables the POSIX way.
#include <stdlib.h>

inline int setenv(const char* name, const char* value, int) {
  return ::_putenv_s(name, value);
}
inline int unsetenv(const char* name) {
  return ::_putenv_s(name, "");
}
