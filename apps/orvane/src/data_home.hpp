#pragma once
// The desktop executor (and the skill creator) put their files under $HOME/.orvane themselves.
// While a DataHome lives, $HOME names a directory whose ".orvane" is the chosen data directory, so
// that those files land there too.
#include <filesystem>
#include <optional>
#include <string>

#include "home_override.hpp"

namespace orvane::app {

class DataHome {
 public:
  explicit DataHome(const std::filesystem::path& data_dir);
  ~DataHome();
  DataHome(const DataHome&) = delete;
  DataHome& operator=(const DataHome&) = delete;

  // A path a component reports under $HOME/.orvane, as the same file in the data directory: the
  // temporary home is gone once the command ends.
  std::filesystem::path real_path(const std::filesystem::path& reported) const;

 private:
  std::filesystem::path _data_dir;
  std::filesystem::path _link_dir;  // a temporary home holding the link ".orvane"; empty if none
  std::optional<HomeOverride> _home;
};

}  // namespace orvane::app
