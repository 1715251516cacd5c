#include <windows.h>

#include <system_error>

#include "orvane/common/path_text.hpp"
#include "remove_file.hpp"

namespace orvane::skills {

void remove_file(const std::filesystem::path& path) {
  // DeleteFileW refuses directories, as unlink does.
  if (!::DeleteFileW(path.c_str())) {
    throw std::system_error(int(::GetLastError()), std::system_category(),
                            "cannot remove '" + common::utf8_of(path) + "'");
  }
}

}  // namespace orvane::skills
