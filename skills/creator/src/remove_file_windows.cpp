#include <windows.h>

#include <system_error>

#include "remove_file.hpp"

namespace orvane::skills {

void remove_file(const std::filesystem::path& path) {
  // DeleteFileW refuses directories, as unlink does.
  if (!::DeleteFileW(path.c_str())) {
    throw std::system_error(int(::GetLastError()), std::system_category(),
                            "cannot remove '" + path.string() + "'");
  }
}

}  // namespace orvane::skills
