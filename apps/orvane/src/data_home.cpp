#include "data_home.hpp"

#include <system_error>

#include "output.hpp"
#include "temp_directory.hpp"

namespace orvane::app {
namespace fs = std::filesystem;

DataHome::DataHome(const fs::path& data_dir) {
  fs::path dir = fs::absolute(data_dir).lexically_normal();
  if (dir.filename().empty()) dir = dir.parent_path();  // a trailing slash
  fs::create_directories(dir);
  _data_dir = dir;

  fs::path home;
  if (dir.filename() == ".orvane") {
    home = dir.parent_path();
  } else {
    _link_dir = make_temp_directory("orvane-home-");
    try {
      link_directory(dir, _link_dir / ".orvane");
    } catch (const std::system_error& error) {
      std::error_code ignored;
      fs::remove(_link_dir, ignored);
      throw Failure("cannot give the desktop executor the data directory " + dir.string() + ": " +
                    error.what() + " (a data directory named .orvane needs no link)");
    }
    home = _link_dir;
  }
  const auto current = home_variable();
  if (current && *current == home) return;
  _home.emplace(home);
}

fs::path DataHome::real_path(const fs::path& reported) const {
  if (_link_dir.empty()) return reported;
  const fs::path link = _link_dir / ".orvane";
  const fs::path relative = reported.lexically_relative(link);
  if (relative.empty() || *relative.begin() == "..") return reported;
  return _data_dir / relative;
}

DataHome::~DataHome() {
  _home.reset();
  if (!_link_dir.empty()) {
    std::error_code ignored;
    fs::remove(_link_dir / ".orvane", ignored);
    fs::remove(_link_dir, ignored);
  }
}

}  // namespace orvane::app
