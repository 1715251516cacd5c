#pragma once
// One orvane process at a time changes a data directory's scheduler state: each process loads the
// state file once and rewrites it whole, so two writers would lose each other's changes.
#include <chrono>
#include <filesystem>

namespace orvane::app {

class SchedulerLock {
 public:
  // Takes the lock on `data_dir` (creating the directory), waiting at most `patience` for another
  // short command to finish. Throws Failure when it stays taken.
  SchedulerLock(const std::filesystem::path& data_dir, std::chrono::milliseconds patience);
  ~SchedulerLock();
  SchedulerLock(const SchedulerLock&) = delete;
  SchedulerLock& operator=(const SchedulerLock&) = delete;

 private:
  int _fd = -1;
};

}  // namespace orvane::app
