#pragma once
// The executions that `orvane schedule run` has completed, kept across processes: the scheduler's
// own history lives in memory and starts empty in each process. One JSON object per line, in
// "schedule_history.jsonl" in the data directory; at 4 MiB the file becomes
// "schedule_history.jsonl.1" (replacing the one before) and a new one begins.
#include <cstdint>
#include <filesystem>

#include "output.hpp"

namespace orvane::app {

class ExecutionHistory {
 public:
  static constexpr std::uintmax_t ROTATE_BYTES = std::uintmax_t{4} << 20;

  explicit ExecutionHistory(const std::filesystem::path& data_dir);

  // Appends the execution's dictionary form as one line, written through to the disk. Throws
  // Failure when it cannot.
  void append(const Json& execution) const;
  // Takes `saved` (the executions the state file holds) as the first lines when there is no
  // history yet: before the first run that records here they are the only record of earlier
  // runs, and the scheduler's next save drops them.
  void adopt(const Json& saved) const;
  // Every recorded execution, oldest first. Lines that are not JSON objects (the last line of a
  // process killed while writing) are skipped.
  Json read() const;

  const std::filesystem::path& path() const { return _path; }

 private:
  std::filesystem::path _path;
};

}  // namespace orvane::app
