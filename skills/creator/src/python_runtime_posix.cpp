// The Python of the build's prefix, or the one the process already runs.
#include <dlfcn.h>

#include <cstdlib>

#include "python_runtime.hpp"

namespace orvane::skills::python {
namespace {

std::string env_or(const char* name, const char* fallback) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? value : fallback;
}

Library found(void* handle, std::string path) {
  return {.symbol = [handle](const char* name) { return ::dlsym(handle, name); },
          .path = std::move(path),
          .home = env_or("ORVANE_PYTHON_HOME", ORVANE_BUILD_PYTHON_HOME)};
}

}  // namespace

Library find_library() {
  // A host that runs its own Python has this library loaded: its interpreter is the one to use.
  if (void* loaded = ::dlopen(ORVANE_PYTHON_SONAME, RTLD_NOW | RTLD_NOLOAD))
    return found(loaded, ORVANE_PYTHON_SONAME);
  const std::string path = env_or("ORVANE_PYTHON_LIBRARY", ORVANE_BUILD_PYTHON_LIBRARY);
  // Global, so that extension modules the interpreter imports find its symbols.
  if (void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_GLOBAL)) return found(handle, path);
  const char* why = ::dlerror();
  return {.error = why != nullptr ? why : "cannot load " + path};
}

}  // namespace orvane::skills::python
