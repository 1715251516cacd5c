#pragma once
// Paths to and from UTF-8 text. A std::string given to std::filesystem::path (or taken from
// path::string()) is in the ANSI code page under MinGW's libstdc++, not UTF-8: a name like
// "Zoë" or "山田" is mangled there. These go through char8_t, which is UTF-8 on every system.
#include <filesystem>
#include <string>
#include <string_view>

namespace orvane::common {

std::filesystem::path path_from_utf8(std::string_view utf8);

std::string utf8_of(const std::filesystem::path& path);

}  // namespace orvane::common
