#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <random>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "orvane/common/file_io.hpp"

namespace orvane::common {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t NAME_MAX_UNITS = 255;  // the longest file name NTFS takes, in UTF-16 units
constexpr std::size_t SUFFIX_UNITS = 8;
// How long a replacement waits for whoever holds the target open without letting it be replaced
// (a virus scanner, a search indexer, a backup) before it fails as any write failure would.
constexpr auto REPLACE_PATIENCE = std::chrono::seconds(2);

// The errors callers may act on in the codes they have on Linux, so that "Permission denied"
// reads the same on both; the rest keep Windows' own code.
std::error_code error_code_of(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return std::make_error_code(std::errc::no_such_file_or_directory);
    case ERROR_ACCESS_DENIED:
      return std::make_error_code(std::errc::permission_denied);
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return std::make_error_code(std::errc::device_or_resource_busy);
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return std::make_error_code(std::errc::no_space_on_device);
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return std::make_error_code(std::errc::file_exists);
    case ERROR_WRITE_PROTECT:
      return std::make_error_code(std::errc::read_only_file_system);
    case ERROR_FILENAME_EXCED_RANGE:
      return std::make_error_code(std::errc::filename_too_long);
    default:
      return {static_cast<int>(error), std::system_category()};
  }
}

std::string utf8(const fs::path& path) {
  const auto text = path.u8string();
  return std::string(text.begin(), text.end());
}

[[noreturn]] void throw_error(DWORD error, const std::string& what, const fs::path& path) {
  throw std::system_error(error_code_of(error), what + " '" + utf8(path) + "'");
}

[[noreturn]] void throw_last_error(const std::string& what, const fs::path& path) {
  throw_error(::GetLastError(), what, path);
}

struct Handle {
  HANDLE handle = INVALID_HANDLE_VALUE;
  ~Handle() { close(); }
  bool open() const { return handle != INVALID_HANDLE_VALUE; }
  bool close() { return !open() || ::CloseHandle(std::exchange(handle, INVALID_HANDLE_VALUE)); }
};

std::wstring random_suffix() {
  static std::mt19937_64 gen{std::random_device{}()};
  static const wchar_t* alphabet = L"abcdefghijklmnopqrstuvwxyz0123456789";
  std::wstring s;
  for (std::size_t i = 0; i < SUFFIX_UNITS; ++i) s += alphabet[gen() % 36];
  return s;
}

// A name near the limit is cut, so that every file that can be written has a temporary file
// beside it.
std::wstring temporary_prefix(const fs::path& target) {
  std::wstring prefix = L".";
  prefix += target.filename().wstring();
  prefix.resize(std::min(prefix.size(), NAME_MAX_UNITS - SUFFIX_UNITS - 5));
  prefix += L".tmp-";
  return prefix;
}

// The file that writing `path` changes: where its symbolic links and junctions end, or `path`
// itself. Replacing the link would cut it from the file it points to.
fs::path final_target(const fs::path& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    return path;
  }
  Handle file{::CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr)};
  if (!file.open()) return path;  // a link to nothing is replaced itself
  std::wstring final(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n =
        ::GetFinalPathNameByHandleW(file.handle, final.data(), static_cast<DWORD>(final.size()), 0);
    if (n == 0) throw_last_error("cannot resolve", path);
    if (n < final.size()) {
      final.resize(n);
      return final;
    }
    final.resize(n);
  }
}

void write_all(HANDLE file, std::string_view bytes, const fs::path& path) {
  for (std::size_t done = 0; done < bytes.size();) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1 << 30));
    DWORD written = 0;
    if (!::WriteFile(file, bytes.data() + done, chunk, &written, nullptr)) {
      throw_last_error("cannot write", path);
    }
    done += written;
  }
}

void flush(HANDLE file, const fs::path& path) {
  if (!::FlushFileBuffers(file)) throw_last_error("cannot flush", path);
}

void seek(HANDLE file, std::uint64_t offset, const fs::path& path) {
  LARGE_INTEGER to;
  to.QuadPart = static_cast<LONGLONG>(offset);
  if (!::SetFilePointerEx(file, to, nullptr, FILE_BEGIN)) throw_last_error("cannot write", path);
}

// Removes the temporary files of `target` that no live writer holds: those of a writer killed
// mid-save. A live writer's file is open without sharing deletion, so it cannot be removed.
// Best effort; a file that cannot be removed stays.
void remove_stale_temporaries(const fs::path& dir, const fs::path& target) {
  const auto prefix = temporary_prefix(target);
  std::error_code error;
  for (fs::directory_iterator it(dir, error), end; !error && it != end; it.increment(error)) {
    if (it->path().filename().wstring().starts_with(prefix)) ::DeleteFileW(it->path().c_str());
  }
}

// Renames the open `file` over `target`. Renaming through the handle that wrote it (what
// MoveFileExW does after opening the file itself) leaves no moment in which the file is closed
// and another writer's clean-up could take it for a stale one. Waits a while for whoever holds
// the target open without letting it be replaced.
void replace(HANDLE file, const fs::path& target, const fs::path& path) {
  const std::wstring name = target.wstring();
  std::vector<char> buffer(sizeof(FILE_RENAME_INFO) + name.size() * sizeof(wchar_t));
  auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  info->ReplaceIfExists = TRUE;
  info->RootDirectory = nullptr;
  info->FileNameLength = static_cast<DWORD>(name.size() * sizeof(wchar_t));
  std::copy(name.begin(), name.end(), info->FileName);

  const auto give_up = std::chrono::steady_clock::now() + REPLACE_PATIENCE;
  auto pause = std::chrono::milliseconds(10);
  for (;;) {
    if (::SetFileInformationByHandle(file, FileRenameInfo, info,
                                     static_cast<DWORD>(buffer.size()))) {
      return;
    }
    const DWORD error = ::GetLastError();
    const bool held = error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED ||
                      error == ERROR_LOCK_VIOLATION;
    if (!held || std::chrono::steady_clock::now() >= give_up) {
      throw_error(error, "cannot replace", path);
    }
    std::this_thread::sleep_for(pause);
    pause = std::min(pause * 2, std::chrono::milliseconds(200));
  }
}

// A temporary file beside the target, open without sharing deletion for as long as this writer
// lives (see remove_stale_temporaries). Closes and removes the file unless kept.
struct TempFile {
  fs::path path;
  Handle file;
  bool keep = false;

  ~TempFile() {
    file.close();
    if (!keep) ::DeleteFileW(path.c_str());
  }

  // False, with the error in GetLastError, when the directory takes no new file.
  bool create(const fs::path& dir, const fs::path& target) {
    for (int attempt = 0;; ++attempt) {
      path = dir / (temporary_prefix(target) + random_suffix());
      file.handle = ::CreateFileW(path.c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_READ, nullptr,
                                  CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
      if (file.open()) return true;
      if (::GetLastError() != ERROR_FILE_EXISTS || attempt >= 10) return false;
    }
  }
};

// Where the directory takes no new file but the target may be written: the file itself is
// rewritten. Not atomic, but a full disk does not cost the old content: the part beyond the old
// end is written first (and cut off again when it does not fit), so that overwriting the old
// bytes needs no new space.
void write_in_place(const fs::path& target, std::string_view bytes, Durability durability,
                    const fs::path& path) {
  Handle file{::CreateFileW(target.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr)};
  if (!file.open()) throw_last_error("cannot write", path);
  LARGE_INTEGER size;
  if (!::GetFileSizeEx(file.handle, &size)) throw_last_error("cannot write", path);
  const auto old_size = static_cast<std::size_t>(size.QuadPart);
  const bool sync = durability == Durability::Flushed;
  if (bytes.size() > old_size) {
    try {
      seek(file.handle, old_size, path);
      write_all(file.handle, bytes.substr(old_size), path);
      if (sync) flush(file.handle, path);
    } catch (...) {
      LARGE_INTEGER end;
      end.QuadPart = size.QuadPart;
      if (::SetFilePointerEx(file.handle, end, nullptr, FILE_BEGIN)) ::SetEndOfFile(file.handle);
      throw;
    }
  }
  seek(file.handle, 0, path);
  write_all(file.handle, bytes.substr(0, std::min(old_size, bytes.size())), path);
  if (bytes.size() < old_size) {
    seek(file.handle, bytes.size(), path);
    if (!::SetEndOfFile(file.handle)) throw_last_error("cannot write", path);
  }
  if (sync) flush(file.handle, path);
  if (!file.close()) throw_last_error("cannot close", path);
}

}  // namespace

void write_file_atomic(const fs::path& path, std::string_view bytes, Durability durability) {
  const auto target = final_target(path);
  const auto dir = target.has_parent_path() ? target.parent_path() : fs::path(".");
  fs::create_directories(dir);

  const DWORD attributes = ::GetFileAttributesW(target.c_str());
  const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
  // Replacing needs only the directory's permission; a read-only file is refused as a write in
  // place would refuse it.
  if (exists && (attributes & FILE_ATTRIBUTE_READONLY)) {
    throw_error(ERROR_ACCESS_DENIED, "cannot write", path);
  }

  TempFile tmp;
  if (!tmp.create(dir, target)) {
    const DWORD error = ::GetLastError();
    tmp.keep = true;  // nothing was created
    if (exists && error == ERROR_ACCESS_DENIED) {
      write_in_place(target, bytes, durability, path);
      return;
    }
    throw_error(error, "cannot create a temporary file for", path);
  }

  write_all(tmp.file.handle, bytes, path);
  const bool sync = durability == Durability::Flushed;
  if (sync) flush(tmp.file.handle, path);
  replace(tmp.file.handle, target, path);
  tmp.keep = true;
  tmp.file.close();

  remove_stale_temporaries(dir, target);
  if (!sync) return;
  // Make the rename itself durable where the file system lets a directory be flushed.
  Handle directory{::CreateFileW(dir.c_str(), GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr)};
  if (directory.open()) ::FlushFileBuffers(directory.handle);
}

std::string read_file(const fs::path& path) {
  // Shared for writing and deletion, so that reading never stops a save from replacing the file.
  Handle file{::CreateFileW(path.c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)};
  if (!file.open()) throw_last_error("cannot open", path);
  std::string out;
  char buf[65536];
  for (;;) {
    DWORD n = 0;
    if (!::ReadFile(file.handle, buf, sizeof buf, &n, nullptr)) {
      throw_last_error("cannot read", path);
    }
    if (n == 0) break;
    out.append(buf, n);
  }
  return out;
}

}  // namespace orvane::common
