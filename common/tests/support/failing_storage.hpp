#pragma once
// Data directories where writing fails as it does for users: a full disk, a read-only directory,
// a read-only file system.
#include <fcntl.h>
#include <linux/fs.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

namespace orvane::testing {

namespace fs = std::filesystem;

enum class Trouble {
  FullDisk,
  ReadOnly,           // directories and files read-only
  ReadOnlyDirectory,  // directories read-only, files writable: files are rewritten in place
  ReadOnlyDirectoryFullDisk,
  ReadOnlyFileSystem,  // only where a file system can be mounted
};

inline const char* to_string(Trouble trouble) {
  switch (trouble) {
    case Trouble::FullDisk:
      return "full disk";
    case Trouble::ReadOnly:
      return "read-only directory and files";
    case Trouble::ReadOnlyDirectory:
      return "read-only directory, writable files";
    case Trouble::ReadOnlyDirectoryFullDisk:
      return "read-only directory, writable files, full disk";
    case Trouble::ReadOnlyFileSystem:
      return "read-only file system";
  }
  return "?";
}

inline constexpr Trouble ALL_TROUBLES[] = {
    Trouble::FullDisk, Trouble::ReadOnly, Trouble::ReadOnlyDirectory,
    Trouble::ReadOnlyDirectoryFullDisk, Trouble::ReadOnlyFileSystem};

// Every regular file under `dir` (relative path -> bytes).
inline std::map<std::string, std::string> snapshot(const fs::path& dir) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    if (!entry.is_regular_file()) continue;
    std::ifstream in(entry.path(), std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    files[fs::relative(entry.path(), dir).string()] = bytes.str();
  }
  return files;
}

// A fresh directory on a small file system of its own: a 1 MiB tmpfs where this process may
// mount one (root), else a temporary directory where a full disk is this process's file-size
// limit (RLIMIT_FSIZE) instead.
class SmallDisk {
 public:
  SmallDisk() {
    char pattern[] = "/tmp/orvane-small-disk-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) throw std::system_error(errno, std::generic_category());
    _root = pattern;
    _mounted = ::mount("tmpfs", _root.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "size=1m") == 0;
    path = _root / "data";
    fs::create_directories(path);
  }
  ~SmallDisk() {
    end();
    if (_mounted) ::umount2(_root.c_str(), MNT_DETACH);
    std::error_code ignored;
    fs::remove_all(_root, ignored);
  }
  SmallDisk(const SmallDisk&) = delete;
  SmallDisk& operator=(const SmallDisk&) = delete;

  bool can_be_read_only() const { return _mounted; }

  // Brings `trouble` about for every directory in `dirs` and the files directly in them.
  // False when it cannot be had here.
  bool begin(Trouble trouble, const std::vector<fs::path>& dirs) {
    _trouble = trouble;
    switch (trouble) {
      case Trouble::FullDisk:
        _fill();
        return true;
      case Trouble::ReadOnly:
        return _lock(dirs, true);
      case Trouble::ReadOnlyDirectory:
        return _lock(dirs, false);
      case Trouble::ReadOnlyDirectoryFullDisk:
        if (!_lock(dirs, false)) return false;
        _fill();
        return true;
      case Trouble::ReadOnlyFileSystem:
        return _mounted && _remount(MS_RDONLY);
    }
    return false;
  }

  // Ends the trouble: space freed, modes and flags back, the file system writable again.
  void end() {
    if (_filler_fd >= 0) {
      ::close(_filler_fd);
      ::unlink((_root / "filler").c_str());
      _filler_fd = -1;
    }
    if (_limited) {
      ::setrlimit(RLIMIT_FSIZE, &_old_limit);
      ::signal(SIGXFSZ, SIG_DFL);
      _limited = false;
    }
    for (auto it = _locked.rbegin(); it != _locked.rend(); ++it) _set_writable(*it, true);
    _locked.clear();
    if (_trouble == Trouble::ReadOnlyFileSystem && _mounted) _remount(0);
  }

  fs::path path;  // the data directory

 private:
  void _fill() {
    if (!_mounted) {
      ::getrlimit(RLIMIT_FSIZE, &_old_limit);
      ::signal(SIGXFSZ, SIG_IGN);  // the failing write returns EFBIG instead
      rlimit one{1, _old_limit.rlim_max};
      _limited = ::setrlimit(RLIMIT_FSIZE, &one) == 0;
      return;
    }
    _filler_fd = ::open((_root / "filler").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    const std::string block(4096, 'f');
    while (::write(_filler_fd, block.data(), block.size()) > 0) {
    }
  }

  bool _lock(const std::vector<fs::path>& dirs, bool files_too) {
    for (const auto& dir : dirs) {
      if (files_too) {
        for (const auto& entry : fs::directory_iterator(dir)) {
          if (entry.is_regular_file() && !_set_writable(entry.path(), false)) return false;
          _locked.push_back(entry.path());
        }
      }
      if (!_set_writable(dir, false)) return false;
      _locked.push_back(dir);
    }
    return true;
  }

  // Root ignores modes, so for root the immutable flag does it.
  static bool _set_writable(const fs::path& path, bool writable) {
    if (::geteuid() != 0) {
      std::error_code error;
      fs::permissions(path, fs::perms::owner_write,
                      writable ? fs::perm_options::add : fs::perm_options::remove, error);
      return !error;
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    int flags = 0;
    bool done = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (done) {
      flags = writable ? (flags & ~FS_IMMUTABLE_FL) : (flags | FS_IMMUTABLE_FL);
      done = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    ::close(fd);
    return done;
  }

  bool _remount(unsigned long flags) {
    return ::mount(nullptr, _root.c_str(), nullptr, MS_REMOUNT | MS_NOSUID | MS_NODEV | flags,
                   nullptr) == 0;
  }

  fs::path _root;
  bool _mounted = false;
  Trouble _trouble = Trouble::FullDisk;
  int _filler_fd = -1;
  bool _limited = false;
  rlimit _old_limit{};
  std::vector<fs::path> _locked;
};

}  // namespace orvane::testing
