#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "durable_append.hpp"

namespace orvane::app {
namespace {

void write_all(int fd, const std::string& text) {
  for (std::size_t done = 0; done < text.size();) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw std::system_error(errno, std::generic_category());
    done += static_cast<std::size_t>(n);
  }
}

}  // namespace

void append_line_durably(const std::filesystem::path& path, std::string line) {
  const int fd = ::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) throw std::system_error(errno, std::generic_category());
  const off_t size = ::lseek(fd, 0, SEEK_END);
  char last = '\n';
  if (size > 0 && ::pread(fd, &last, 1, size - 1) == 1 && last != '\n') line.insert(0, "\n");
  try {
    write_all(fd, line);
    if (::fdatasync(fd) != 0) throw std::system_error(errno, std::generic_category());
  } catch (...) {
    ::close(fd);
    throw;
  }
  ::close(fd);
}

}  // namespace orvane::app
