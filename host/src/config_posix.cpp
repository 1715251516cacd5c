#include "orvane/host/config.hpp"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>
#include <vector>

namespace orvane::host {

std::filesystem::path home_dir() {
  if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') return home;
  std::vector<char> buf(16384);
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwuid_r(::getuid(), &entry, buf.data(), buf.size(), &found) == 0 && found != nullptr &&
      found->pw_dir != nullptr && *found->pw_dir != '\0') {
    return found->pw_dir;
  }
  throw std::runtime_error(
      "cannot find the home directory: HOME is not set and the user has no "
      "password database entry");
}

std::filesystem::path orvane_dir() {
  return home_dir() / ".orvane";
}

}  // namespace orvane::host
