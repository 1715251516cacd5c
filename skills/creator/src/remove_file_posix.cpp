#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "remove_file.hpp"

namespace orvane::skills {

void remove_file(const std::filesystem::path& path) {
  // unlink, not remove: a directory of that name is no file to delete.
  if (::unlink(path.c_str()) != 0) {
    throw std::system_error(errno, std::generic_category(),
                            "cannot remove '" + path.string() + "'");
  }
}

}  // namespace orvane::skills
