#include <shlobj.h>
#include <windows.h>

#include <stdexcept>
#include <string>

#include "orvane/host/config.hpp"
#include "win_text.hpp"

namespace orvane::host {

std::filesystem::path home_dir() {
  if (std::wstring home = win::environment_variable(L"USERPROFILE"); !home.empty()) return home;
  PWSTR profile = nullptr;
  const HRESULT result = ::SHGetKnownFolderPath(FOLDERID_Profile, 0, nullptr, &profile);
  std::filesystem::path found;
  if (SUCCEEDED(result) && profile != nullptr && *profile != L'\0') found = profile;
  ::CoTaskMemFree(profile);
  if (found.empty()) {
    throw std::runtime_error(
        "cannot find the home directory: USERPROFILE is not set and the system knows no profile "
        "folder for the user");
  }
  return found;
}

std::filesystem::path orvane_dir() {
  return home_dir() / ".orvane";
}

}  // namespace orvane::host
