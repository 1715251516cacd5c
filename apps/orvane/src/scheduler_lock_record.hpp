#pragma once
// What the POSIX and Windows scheduler locks share: the lock file, its runner record and the
// message when the lock stays taken.
#include <filesystem>
#include <optional>
#include <string>

#include "output.hpp"
#include "scheduler_lock.hpp"

namespace orvane::app {

std::filesystem::path scheduler_lock_file(const std::filesystem::path& data_dir);

// The record a running scheduler writes: this process and the time now, one JSON line.
std::string runner_record(long pid);

// The runner a record names, if it is one (whether that process still runs is not checked).
std::optional<SchedulerRunner> parse_runner_record(const std::string& text);

// The failure when another process keeps the lock on `data_dir`, naming it when it is a runner.
Failure lock_in_use(const std::filesystem::path& data_dir);

}  // namespace orvane::app
