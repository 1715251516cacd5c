#include <windows.h>

#include <string>
#include <system_error>
#include <thread>

#include "output.hpp"
#include "scheduler_lock.hpp"
#include "scheduler_lock_record.hpp"

namespace orvane::app {
namespace {

// Windows locks are mandatory: a locked range cannot be read by others. The lock is taken on one
// byte far beyond the runner's record, which stays readable at the start of the file.
constexpr DWORD LOCK_OFFSET_HIGH = 0x40000000;

std::string last_error() {
  return std::system_category().message(static_cast<int>(GetLastError()));
}

HANDLE open_lock_file(const std::filesystem::path& path, DWORD disposition) {
  return CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, disposition,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool try_lock(HANDLE file, DWORD flags) {
  OVERLAPPED range{};
  range.OffsetHigh = LOCK_OFFSET_HIGH;
  return LockFileEx(file, flags | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &range) != 0;
}

void unlock(HANDLE file) {
  OVERLAPPED range{};
  range.OffsetHigh = LOCK_OFFSET_HIGH;
  UnlockFileEx(file, 0, 1, 0, &range);
}

// Empties the runner's record. Should that fail, the stale record names a process that has ended
// or does not hold the lock, and readers pass over it.
void clear_runner_record(HANDLE file) {
  LARGE_INTEGER start{};
  if (SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) SetEndOfFile(file);
}

bool process_is_running(long pid) {
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
  if (process == nullptr) return GetLastError() == ERROR_ACCESS_DENIED;  // another user's
  DWORD code = 0;
  const bool running = GetExitCodeProcess(process, &code) && code == STILL_ACTIVE;
  CloseHandle(process);
  return running;
}

}  // namespace

SchedulerLock::SchedulerLock(const std::filesystem::path& data_dir,
                             std::chrono::milliseconds patience) {
  std::filesystem::create_directories(data_dir);
  const auto path = scheduler_lock_file(data_dir);
  HANDLE file = open_lock_file(path, OPEN_ALWAYS);
  if (file == INVALID_HANDLE_VALUE)
    throw Failure("cannot open " + path.string() + ": " + last_error());
  const auto deadline = std::chrono::steady_clock::now() + patience;
  while (!try_lock(file, LOCKFILE_EXCLUSIVE_LOCK)) {
    const DWORD error = GetLastError();
    if (error != ERROR_LOCK_VIOLATION && error != ERROR_IO_PENDING) {
      CloseHandle(file);
      throw Failure("cannot lock " + path.string() + ": " +
                    std::system_category().message(static_cast<int>(error)));
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      CloseHandle(file);
      throw lock_in_use(data_dir);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  _file = reinterpret_cast<std::intptr_t>(file);
  clear_runner_record(file);  // left by a scheduler that was killed
}

SchedulerLock::~SchedulerLock() {
  const HANDLE file = reinterpret_cast<HANDLE>(_file);
  clear_runner_record(file);
  unlock(file);
  CloseHandle(file);
}

void SchedulerLock::announce_runner() {
  const std::string record = runner_record(static_cast<long>(GetCurrentProcessId()));
  OVERLAPPED at_start{};
  DWORD written = 0;
  if (!WriteFile(reinterpret_cast<HANDLE>(_file), record.data(), static_cast<DWORD>(record.size()),
                 &written, &at_start) ||
      written != record.size()) {
    throw Failure("cannot record the scheduler process: " + last_error());
  }
}

std::optional<SchedulerRunner> find_scheduler_runner(const std::filesystem::path& data_dir) {
  HANDLE file = open_lock_file(scheduler_lock_file(data_dir), OPEN_EXISTING);
  if (file == INVALID_HANDLE_VALUE) return std::nullopt;
  std::optional<SchedulerRunner> runner;
  if (try_lock(file, 0)) {
    unlock(file);
    CloseHandle(file);  // nobody holds it
    return runner;
  }
  char text[256];
  DWORD n = 0;
  OVERLAPPED at_start{};
  const bool read = ReadFile(file, text, sizeof text - 1, &n, &at_start);
  CloseHandle(file);
  if (!read || n == 0) return runner;  // a short command holds it
  runner = parse_runner_record(std::string(text, n));
  if (runner && !process_is_running(runner->pid)) runner.reset();
  return runner;
}

}  // namespace orvane::app
