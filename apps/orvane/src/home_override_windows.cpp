#include <stdlib.h>
#include <windows.h>

#include <system_error>

#include "home_override.hpp"

namespace orvane::app {
namespace fs = std::filesystem;
namespace {

constexpr const wchar_t* HOME = L"USERPROFILE";

std::optional<std::wstring> read_home() {
  const DWORD size = GetEnvironmentVariableW(HOME, nullptr, 0);
  if (size == 0) return std::nullopt;
  std::wstring value(size, L'\0');
  value.resize(GetEnvironmentVariableW(HOME, value.data(), size));
  return value;
}

// Both the C runtime's copy of the environment and the process's (which the host reads).
void write_home(const wchar_t* value) {
  _wputenv_s(HOME, value);
  SetEnvironmentVariableW(HOME, *value ? value : nullptr);
}

}  // namespace

HomeOverride::HomeOverride(const fs::path& home) {
  if (const auto old = read_home()) _old_home = fs::path(*old);
  write_home(home.c_str());
}

HomeOverride::~HomeOverride() {
  write_home(_old_home ? _old_home->c_str() : L"");
}

std::optional<fs::path> home_variable() {
  const auto home = read_home();
  if (!home) return std::nullopt;
  return fs::path(*home);
}

// Needs developer mode (or elevation) on Windows 10 and later; Wine allows it.
void link_directory(const fs::path& target, const fs::path& link) {
  if (CreateSymbolicLinkW(
          link.c_str(), target.c_str(),
          SYMBOLIC_LINK_FLAG_DIRECTORY | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE)) {
    return;
  }
  throw std::system_error(static_cast<int>(GetLastError()), std::system_category(),
                          "cannot link " + link.string());
}

}  // namespace orvane::app
