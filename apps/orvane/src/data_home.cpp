#include "data_home.hpp"

#include <stdlib.h>

#include <cstdlib>
#include <system_error>

#include "output.hpp"

namespace orvane::app {
namespace fs = std::filesystem;

DataHome::DataHome(const fs::path& data_dir) {
  fs::path dir = fs::absolute(data_dir).lexically_normal();
  if (dir.filename().empty()) dir = dir.parent_path();  // a trailing slash
  fs::create_directories(dir);
  _data_dir = dir;

  if (const char* home = std::getenv("HOME")) _old_home = home;
  fs::path home;
  if (dir.filename() == ".orvane") {
    home = dir.parent_path();
  } else {
    std::string pattern = (fs::temp_directory_path() / "orvane-home-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
      throw Failure("cannot create a temporary directory in " + fs::temp_directory_path().string());
    }
    _link_dir = pattern;
    fs::create_directory_symlink(dir, _link_dir / ".orvane");
    home = _link_dir;
  }
  if (_old_home && fs::path(*_old_home) == home) return;
  // Xlib finds the display's cookie through $HOME when XAUTHORITY is not set.
  if (std::getenv("XAUTHORITY") == nullptr && _old_home) {
    const fs::path cookie = fs::path(*_old_home) / ".Xauthority";
    std::error_code error;
    if (fs::exists(cookie, error)) {
      setenv("XAUTHORITY", cookie.c_str(), 1);
      _set_xauthority = true;
    }
  }
  setenv("HOME", home.c_str(), 1);
}

fs::path DataHome::real_path(const fs::path& reported) const {
  if (_link_dir.empty()) return reported;
  const fs::path link = _link_dir / ".orvane";
  const fs::path relative = reported.lexically_relative(link);
  if (relative.empty() || *relative.begin() == "..") return reported;
  return _data_dir / relative;
}

DataHome::~DataHome() {
  if (_old_home) {
    setenv("HOME", _old_home->c_str(), 1);
  } else {
    unsetenv("HOME");
  }
  if (_set_xauthority) unsetenv("XAUTHORITY");
  if (!_link_dir.empty()) {
    std::error_code ignored;
    fs::remove(_link_dir / ".orvane", ignored);
    fs::remove(_link_dir, ignored);
  }
}

}  // namespace orvane::app
