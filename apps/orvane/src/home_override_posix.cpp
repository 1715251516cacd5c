#include <stdlib.h>

#include <cstdlib>
#include <system_error>

#include "home_override.hpp"

namespace orvane::app {
namespace fs = std::filesystem;

HomeOverride::HomeOverride(const fs::path& home) {
  if (const char* old = std::getenv("HOME")) _old_home = fs::path(old);
  // Xlib finds the display's cookie through $HOME when XAUTHORITY is not set.
  if (std::getenv("XAUTHORITY") == nullptr && _old_home) {
    const fs::path cookie = *_old_home / ".Xauthority";
    std::error_code error;
    if (fs::exists(cookie, error)) {
      setenv("XAUTHORITY", cookie.c_str(), 1);
      _set_xauthority = true;
    }
  }
  setenv("HOME", home.c_str(), 1);
}

HomeOverride::~HomeOverride() {
  if (_old_home) {
    setenv("HOME", _old_home->c_str(), 1);
  } else {
    unsetenv("HOME");
  }
  if (_set_xauthority) unsetenv("XAUTHORITY");
}

std::optional<fs::path> home_variable() {
  const char* home = std::getenv("HOME");
  if (home == nullptr) return std::nullopt;
  return fs::path(home);
}

void link_directory(const fs::path& target, const fs::path& link) {
  fs::create_directory_symlink(target, link);
}

}  // namespace orvane::app
