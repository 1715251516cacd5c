#pragma once
// The system pieces of DataHome: the variable through which the host finds the user's home
// ($HOME; %USERPROFILE% on Windows) and a directory link.
#include <filesystem>
#include <optional>

namespace orvane::app {

// Points the home variable at `home` while it lives, then restores it as it was.
class HomeOverride {
 public:
  explicit HomeOverride(const std::filesystem::path& home);
  ~HomeOverride();
  HomeOverride(const HomeOverride&) = delete;
  HomeOverride& operator=(const HomeOverride&) = delete;

 private:
  std::optional<std::filesystem::path> _old_home;
  bool _set_xauthority = false;
};

// The home variable's value, if it is set.
std::optional<std::filesystem::path> home_variable();

// Makes `link` a link to the directory `target`; throws std::system_error.
void link_directory(const std::filesystem::path& target, const std::filesystem::path& link);

}  // namespace orvane::app
