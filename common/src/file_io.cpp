#include "orvane/common/file_io.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <random>
#include <system_error>

namespace orvane::common {
namespace {

[[noreturn]] void throw_errno(const std::string& what, const std::filesystem::path& path) {
  throw std::system_error(errno, std::generic_category(), what + " '" + path.string() + "'");
}

std::string random_suffix() {
  static std::mt19937_64 gen{std::random_device{}()};
  static const char* alphabet = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::string s;
  for (int i = 0; i < 8; ++i) s += alphabet[gen() % 36];
  return s;
}

// Closes the descriptor and removes the temporary file unless released.
struct TempFile {
  std::filesystem::path path;
  int fd = -1;
  bool keep = false;
  ~TempFile() {
    if (fd >= 0) ::close(fd);
    if (!keep) ::unlink(path.c_str());
  }
};

}  // namespace

void write_file_atomic(const std::filesystem::path& path, std::string_view bytes,
                       Durability durability) {
  const auto dir = path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
  std::filesystem::create_directories(dir);

  TempFile tmp;
  for (int attempt = 0; tmp.fd < 0; ++attempt) {
    // Built by appending: GCC 12 at -O3 warns falsely (-Wrestrict) on chained operator+.
    std::string name = ".";
    name += path.filename().string();
    name += ".tmp-";
    name += random_suffix();
    tmp.path = dir / name;
    tmp.fd = ::open(tmp.path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (tmp.fd < 0 && (errno != EEXIST || attempt > 10)) {
      tmp.keep = true;  // nothing was created
      throw_errno("cannot create a temporary file for", path);
    }
  }
  // Keep the mode of a file being replaced.
  struct stat old {};
  if (::stat(path.c_str(), &old) == 0) ::fchmod(tmp.fd, old.st_mode & 07777);

  for (std::size_t done = 0; done < bytes.size();) {
    const auto n = ::write(tmp.fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw_errno("cannot write", path);
    }
    done += static_cast<std::size_t>(n);
  }
  const bool sync = durability == Durability::Flushed;
  if (sync && ::fsync(tmp.fd) != 0) throw_errno("cannot flush", path);
  if (::close(tmp.fd) != 0) {
    tmp.fd = -1;
    throw_errno("cannot close", path);
  }
  tmp.fd = -1;
  if (::rename(tmp.path.c_str(), path.c_str()) != 0) throw_errno("cannot replace", path);
  tmp.keep = true;

  if (!sync) return;
  // Make the rename itself durable.
  const int dir_fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir_fd >= 0) {
    ::fsync(dir_fd);
    ::close(dir_fd);
  }
}

std::string read_file(const std::filesystem::path& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw_errno("cannot open", path);
  std::string out;
  char buf[65536];
  for (;;) {
    const auto n = ::read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      const int saved = errno;
      ::close(fd);
      errno = saved;
      throw_errno("cannot read", path);
    }
    if (n == 0) break;
    out.append(buf, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return out;
}

}  // namespace orvane::common
