// The user's Python 3 on Windows: the one the process already has loaded, else the newest that
// the py launcher's registry entries name (the user's before the machine's), else the first
// python3XY.dll on PATH.
#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <vector>

#include "python_runtime.hpp"

namespace orvane::skills::python {
namespace {

namespace fs = std::filesystem;

// Minor versions looked for by name; 3.8 is the oldest with the calls that are bound.
constexpr int OLDEST_MINOR = 8, NEWEST_MINOR = 40;

std::string utf8(const fs::path& path) {
  const auto text = path.u8string();
  return {text.begin(), text.end()};
}

std::wstring dll_name(int minor) {
  return L"python3" + std::to_wstring(minor) + L".dll";
}

std::optional<std::wstring> environment(const wchar_t* name) {
  std::wstring value(32767, L'\0');
  const DWORD size = ::GetEnvironmentVariableW(name, value.data(), DWORD(value.size()));
  if (size == 0 || size >= value.size()) return std::nullopt;
  value.resize(size);
  return value;
}

Library found(HMODULE module, const fs::path& path) {
  fs::path home = path.parent_path();
  // An install keeps its standard library in Lib\; an embeddable one finds its own (its ._pth).
  std::error_code error;
  if (!fs::exists(home / "Lib" / "os.py", error)) home.clear();
  if (const auto chosen = environment(L"ORVANE_PYTHON_HOME")) home = *chosen;
  return {.symbol =
              [module](const char* name) {
                return reinterpret_cast<void*>(::GetProcAddress(module, name));
              },
          .path = utf8(path),
          .home = utf8(home)};
}

std::optional<Library> load(const fs::path& path) {
  // Its own folder first for its dependencies (vcruntime140.dll beside it).
  HMODULE module = ::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (module == nullptr) return std::nullopt;
  return found(module, path);
}

std::optional<Library> already_loaded() {
  for (int minor = NEWEST_MINOR; minor >= OLDEST_MINOR; --minor) {
    HMODULE module = ::GetModuleHandleW(dll_name(minor).c_str());
    if (module == nullptr) continue;
    std::wstring path(32768, L'\0');
    path.resize(::GetModuleFileNameW(module, path.data(), DWORD(path.size())));
    return found(module, path);
  }
  return std::nullopt;
}

std::optional<std::wstring> registry_text(HKEY root, const std::wstring& key, const wchar_t* name) {
  DWORD bytes = 0;
  if (::RegGetValueW(root, key.c_str(), name, RRF_RT_REG_SZ, nullptr, nullptr, &bytes) != 0)
    return std::nullopt;
  std::wstring value(bytes / sizeof(wchar_t) + 1, L'\0');
  bytes = DWORD(value.size() * sizeof(wchar_t));
  if (::RegGetValueW(root, key.c_str(), name, RRF_RT_REG_SZ, nullptr, value.data(), &bytes) != 0)
    return std::nullopt;
  value.resize(value.find(L'\0'));
  return value;
}

struct Install {
  int minor;
  fs::path dll;
};

// The registered 64-bit CPython installs ("3.12"; "3.12-32" is a 32-bit one), newest first.
std::vector<Install> registered() {
  const std::wstring base = L"Software\\Python\\PythonCore";
  std::vector<Install> installs;
  for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
    HKEY core = nullptr;
    if (::RegOpenKeyExW(root, base.c_str(), 0, KEY_READ, &core) != 0) continue;
    wchar_t name[256];
    for (DWORD i = 0, size = 256;
         ::RegEnumKeyExW(core, i, name, &size, nullptr, nullptr, nullptr, nullptr) == 0;
         ++i, size = 256) {
      const std::wstring version = name;
      if (!version.starts_with(L"3.")) continue;
      const auto digits = version.substr(2);
      if (digits.empty() || digits.size() > 3 ||
          !std::all_of(digits.begin(), digits.end(), ::iswdigit))
        continue;
      const int minor = std::stoi(digits);
      if (minor < OLDEST_MINOR) continue;
      const std::wstring key = base + L"\\" + version + L"\\InstallPath";
      for (const wchar_t* value : {static_cast<const wchar_t*>(nullptr), L"ExecutablePath"}) {
        auto dir = registry_text(root, key, value);
        if (!dir || dir->empty()) continue;
        fs::path folder = value == nullptr ? fs::path(*dir) : fs::path(*dir).parent_path();
        installs.push_back({minor, folder / dll_name(minor)});
      }
    }
    ::RegCloseKey(core);
  }
  std::stable_sort(installs.begin(), installs.end(),
                   [](const Install& a, const Install& b) { return a.minor > b.minor; });
  return installs;
}

// python3XY.dll in the folders of PATH, in PATH's order, the newest of each folder first.
std::vector<fs::path> on_path() {
  std::vector<fs::path> dlls;
  const auto path = environment(L"PATH");
  if (!path) return dlls;
  std::size_t begin = 0;
  while (begin <= path->size()) {
    const std::size_t end = std::min(path->find(L';', begin), path->size());
    const fs::path folder = path->substr(begin, end - begin);
    begin = end + 1;
    if (folder.empty()) continue;
    for (int minor = NEWEST_MINOR; minor >= OLDEST_MINOR; --minor) {
      std::error_code error;
      if (fs::is_regular_file(folder / dll_name(minor), error))
        dlls.push_back(folder / dll_name(minor));
    }
  }
  return dlls;
}

}  // namespace

Library find_library() {
  if (auto loaded = already_loaded()) return *loaded;
  if (const auto chosen = environment(L"ORVANE_PYTHON_LIBRARY")) {
    if (auto library = load(*chosen)) return *library;
    return {.error = "cannot load " + utf8(*chosen) + " (ORVANE_PYTHON_LIBRARY), error " +
                     std::to_string(::GetLastError())};
  }
  for (const auto& install : registered()) {
    if (auto library = load(install.dll)) return *library;
  }
  for (const auto& dll : on_path()) {
    if (auto library = load(dll)) return *library;
  }
  return {.error =
              "no python3XY.dll of Python 3.8 or later in the registry's "
              "Software\\Python\\PythonCore entries or on PATH"};
}

}  // namespace orvane::skills::python
