#include <windows.h>

#include <cerrno>
#include <system_error>

#include "orvane/common/path_text.hpp"
#include "remove_file.hpp"

namespace orvane::skills {

void remove_file(const std::filesystem::path& path) {
  if (::DeleteFileW(path.c_str())) return;
  const DWORD error = ::GetLastError();
  const std::string what = "cannot remove '" + common::utf8_of(path) + "'";
  // DeleteFileW refuses a directory as "access denied"; said as unlink says it.
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
    throw std::system_error(EISDIR, std::generic_category(), what);
  throw std::system_error(int(error), std::system_category(), what);
}

}  // namespace orvane::skills
