#include <windows.h>

#include <algorithm>
#include <system_error>

#include "durable_append.hpp"

namespace orvane::app {
namespace {

[[noreturn]] void fail() {
  throw std::system_error(static_cast<int>(GetLastError()), std::system_category());
}

// Closes the handle however the append ends.
struct FileHandle {
  HANDLE handle;
  ~FileHandle() { CloseHandle(handle); }
};

}  // namespace

void append_line_durably(const std::filesystem::path& path, std::string line) {
  // FILE_APPEND_DATA without FILE_WRITE_DATA: every write goes to the end, as O_APPEND does.
  FileHandle file{CreateFileW(path.c_str(), FILE_READ_DATA | FILE_APPEND_DATA | SYNCHRONIZE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr)};
  if (file.handle == INVALID_HANDLE_VALUE) fail();
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file.handle, &size)) fail();
  if (size.QuadPart > 0) {
    OVERLAPPED at{};
    const ULONGLONG last_byte = static_cast<ULONGLONG>(size.QuadPart - 1);
    at.Offset = static_cast<DWORD>(last_byte);
    at.OffsetHigh = static_cast<DWORD>(last_byte >> 32);
    char last = '\n';
    DWORD read = 0;
    if (ReadFile(file.handle, &last, 1, &read, &at) && read == 1 && last != '\n') {
      line.insert(0, "\n");
    }
  }
  for (std::size_t done = 0; done < line.size();) {
    DWORD written = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(line.size() - done, 1u << 30));
    if (!WriteFile(file.handle, line.data() + done, chunk, &written, nullptr)) fail();
    done += written;
  }
  if (!FlushFileBuffers(file.handle)) fail();
}

}  // namespace orvane::app
