#include "orvane/common/file_io.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <random>
#include <system_error>
#include <utility>

namespace orvane::common {
namespace {

constexpr std::size_t NAME_MAX_BYTES = 255;  // the longest file name Linux file systems take
constexpr std::size_t SUFFIX_BYTES = 8;

[[noreturn]] void throw_errno(const std::string& what, const std::filesystem::path& path) {
  throw std::system_error(errno, std::generic_category(), what + " '" + path.string() + "'");
}

std::string random_suffix() {
  static std::mt19937_64 gen{std::random_device{}()};
  static const char* alphabet = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::string s;
  for (std::size_t i = 0; i < SUFFIX_BYTES; ++i) s += alphabet[gen() % 36];
  return s;
}

// Built by appending: GCC 12 at -O3 warns falsely (-Wrestrict) on chained operator+. A name
// near the limit is cut, so that every file that can be written has a temporary file beside it.
std::string temporary_prefix(const std::filesystem::path& target) {
  std::string prefix = ".";
  prefix += target.filename().string();
  prefix.resize(std::min(prefix.size(), NAME_MAX_BYTES - SUFFIX_BYTES - 5));
  prefix += ".tmp-";
  return prefix;
}

bool same_file(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The file that writing `path` changes: the end of its chain of symbolic links (which may not
// exist yet), or `path` itself. Replacing the link would cut it from the file it points to.
std::filesystem::path final_target(const std::filesystem::path& path) {
  std::filesystem::path target = path;
  for (int links = 0;; ++links) {
    struct stat st {};
    if (::lstat(target.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return target;
    if (links == 40) {
      errno = ELOOP;
      throw_errno("cannot resolve", path);
    }
    const auto next = std::filesystem::read_symlink(target);
    target = next.is_absolute() ? next : target.parent_path() / next;
  }
}

void write_all(int fd, std::string_view bytes, const std::filesystem::path& path) {
  for (std::size_t done = 0; done < bytes.size();) {
    const auto n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw_errno("cannot write", path);
    }
    done += static_cast<std::size_t>(n);
  }
}

// A temporary file beside the target, locked for as long as it exists: the lock tells the
// clean-up of other writers that it is not stale. Closes and removes the file unless kept.
struct TempFile {
  std::filesystem::path path;
  int fd = -1;
  int lock_fd = -1;  // a duplicate holding the lock while `fd` is closed before the rename
  bool keep = false;

  ~TempFile() {
    if (!keep) ::unlink(path.c_str());  // while the lock is still held
    if (fd >= 0) ::close(fd);
    if (lock_fd >= 0) ::close(lock_fd);
  }

  // False, with errno set, when the directory takes no new file.
  bool create(const std::filesystem::path& dir, const std::filesystem::path& target) {
    for (int attempt = 0;; ++attempt) {
      path = dir / (temporary_prefix(target) + random_suffix());
      fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (fd < 0) {
        if (errno == EEXIST && attempt < 10) continue;
        return false;
      }
      int locked;
      while ((locked = ::flock(fd, LOCK_EX)) != 0 && errno == EINTR) {
      }
      // Without lock support (some network file systems) the file stays unlocked, and no
      // clean-up, which removes only files it can lock, ever takes it.
      if (locked != 0) return true;
      // Between open and flock another writer's clean-up may have taken the new, unlocked file
      // for a stale one and removed it: then start again under a new name.
      struct stat held {
      }, named{};
      if (::fstat(fd, &held) == 0 && ::lstat(path.c_str(), &named) == 0 && same_file(held, named))
        return true;
      ::close(fd);
      fd = -1;
      if (attempt >= 10) {
        errno = EAGAIN;
        return false;
      }
    }
  }
};

// Removes the temporary files of `target` that no live writer holds: those of a writer killed
// mid-save. Best effort; a file that cannot be locked or removed stays.
void remove_stale_temporaries(const std::filesystem::path& dir,
                              const std::filesystem::path& target) {
  const auto prefix = temporary_prefix(target);
  std::error_code error;
  for (std::filesystem::directory_iterator it(dir, error), end; !error && it != end;
       it.increment(error)) {
    const auto& candidate = it->path();
    if (!candidate.filename().string().starts_with(prefix)) continue;
    const int fd = ::open(candidate.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) continue;
    struct stat held {
    }, named{};
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::fstat(fd, &held) == 0 && S_ISREG(held.st_mode) &&
        ::lstat(candidate.c_str(), &named) == 0 && same_file(held, named)) {
      ::unlink(candidate.c_str());
    }
    ::close(fd);
  }
}

// Refuses, before anything is written, a file larger than the process may write: the kernel
// would stop the write part-way (and raise SIGXFSZ, which ends a process that does not ignore it).
void check_file_size_limit(std::size_t size, const std::filesystem::path& path) {
  struct rlimit limit {};
  if (::getrlimit(RLIMIT_FSIZE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return;
  if (size > limit.rlim_cur) {
    errno = EFBIG;
    throw_errno("cannot write", path);
  }
}

void write_all_at(int fd, std::string_view bytes, off_t offset, const std::filesystem::path& path) {
  for (std::size_t done = 0; done < bytes.size();) {
    const auto n =
        ::pwrite(fd, bytes.data() + done, bytes.size() - done, offset + static_cast<off_t>(done));
    if (n < 0) {
      if (errno == EINTR) continue;
      throw_errno("cannot write", path);
    }
    done += static_cast<std::size_t>(n);
  }
}

// Where the directory takes no new file but the target may be written: the file itself is
// rewritten. Not atomic, but a full disk does not cost the old content: the part beyond the old
// end is written first (and cut off again when it does not fit), so that overwriting the old
// bytes needs no new space. (File systems that copy on write may still fail part-way.)
void write_in_place(const std::filesystem::path& target, std::string_view bytes,
                    Durability durability, const std::filesystem::path& path) {
  const int fd = ::open(target.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) throw_errno("cannot write", path);
  try {
    struct stat st {};
    if (::fstat(fd, &st) != 0) throw_errno("cannot write", path);
    const auto old_size = static_cast<std::size_t>(st.st_size);
    if (bytes.size() > old_size) {
      try {
        write_all_at(fd, bytes.substr(old_size), st.st_size, path);
        if (durability == Durability::Flushed && ::fsync(fd) != 0) {
          throw_errno("cannot flush", path);
        }
      } catch (...) {
        const int saved = errno;
        (void)!::ftruncate(fd, st.st_size);
        errno = saved;
        throw;
      }
    }
    write_all_at(fd, bytes.substr(0, std::min(old_size, bytes.size())), 0, path);
    if (bytes.size() < old_size && ::ftruncate(fd, static_cast<off_t>(bytes.size())) != 0) {
      throw_errno("cannot write", path);
    }
    if (durability == Durability::Flushed && ::fsync(fd) != 0) throw_errno("cannot flush", path);
  } catch (...) {
    ::close(fd);
    throw;
  }
  if (::close(fd) != 0) throw_errno("cannot close", path);
}

}  // namespace

void write_file_atomic(const std::filesystem::path& path, std::string_view bytes,
                       Durability durability) {
  const auto target = final_target(path);
  const auto dir = target.has_parent_path() ? target.parent_path() : std::filesystem::path(".");
  std::filesystem::create_directories(dir);

  check_file_size_limit(bytes.size(), path);

  struct stat old {};
  const bool exists = ::stat(target.c_str(), &old) == 0;
  // Replacing needs only the directory's permission; a file this process may not write (its
  // mode, its owner) is refused as a write in place would refuse it.
  if (exists && ::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) {
    throw_errno("cannot write", path);
  }

  TempFile tmp;
  if (!tmp.create(dir, target)) {
    tmp.keep = true;  // nothing was created
    if (exists && (errno == EACCES || errno == EPERM)) {
      write_in_place(target, bytes, durability, path);
      return;
    }
    throw_errno("cannot create a temporary file for", path);
  }
  // Keep the mode of a file being replaced.
  if (exists) ::fchmod(tmp.fd, old.st_mode & 07777);

  write_all(tmp.fd, bytes, path);
  const bool sync = durability == Durability::Flushed;
  if (sync && ::fsync(tmp.fd) != 0) throw_errno("cannot flush", path);
  // Closed before the rename so that a late write error (network file systems report them at
  // close) still stops it; the duplicate keeps the lock until the file is renamed.
  tmp.lock_fd = ::dup(tmp.fd);
  if (tmp.lock_fd < 0) throw_errno("cannot write", path);
  const int fd = std::exchange(tmp.fd, -1);
  if (::close(fd) != 0) throw_errno("cannot close", path);
  if (::rename(tmp.path.c_str(), target.c_str()) != 0) throw_errno("cannot replace", path);
  tmp.keep = true;

  remove_stale_temporaries(dir, target);
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
