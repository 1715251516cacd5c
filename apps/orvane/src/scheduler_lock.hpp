#pragma once
// One orvane process at a time changes a data directory's scheduler state: each process loads the
// state file once and rewrites it whole, so two writers would lose each other's changes. The lock
// is an flock (a LockFileEx range on Windows) on "scheduler.lock"; `orvane schedule run` writes its
// process id and start time into that file so that other commands can name it.
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>

namespace orvane::app {

class SchedulerLock {
 public:
  // Takes the lock on `data_dir` (creating the directory), waiting at most `patience` for another
  // short command to finish. Throws Failure when it stays taken.
  SchedulerLock(const std::filesystem::path& data_dir, std::chrono::milliseconds patience);
  ~SchedulerLock();
  SchedulerLock(const SchedulerLock&) = delete;
  SchedulerLock& operator=(const SchedulerLock&) = delete;

  // Records this process as the running scheduler for as long as the lock is held.
  void announce_runner();

 private:
  std::intptr_t _file = -1;  // the lock file: a descriptor, or a HANDLE on Windows
};

struct SchedulerRunner {
  long pid = 0;
  double started_at = 0;  // seconds since the Unix epoch
};

// The process running the scheduler on `data_dir` now, if there is one.
std::optional<SchedulerRunner> find_scheduler_runner(const std::filesystem::path& data_dir);

}  // namespace orvane::app
