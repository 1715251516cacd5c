#include <shlobj.h>
#include <windows.h>

#include <stdexcept>
#include <string>

#include "orvane/host/config.hpp"

namespace orvane::host {
namespace {

// The variable's value as UTF-16 (a path built from it keeps every character), or empty.
std::wstring environment_variable(const wchar_t* name) {
  std::wstring value(MAX_PATH, L'\0');
  for (;;) {
    const DWORD needed = ::GetEnvironmentVariableW(name, value.data(), value.size());
    if (needed == 0) return {};
    if (needed < value.size()) {
      value.resize(needed);
      return value;
    }
    value.resize(needed);  // too small: `needed` counts the terminating null
  }
}

}  // namespace

std::filesystem::path home_dir() {
  if (std::wstring home = environment_variable(L"USERPROFILE"); !home.empty()) return home;
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
