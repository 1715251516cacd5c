#pragma once
// The executions that `orvane schedule run` has completed, kept across processes: the scheduler's
// own history lives in memory and starts empty in each process. One JSON object per line, in
// "schedule_history.jsonl" in the data directory; at 4 MiB the file becomes
// "schedule_history.jsonl.1" (replacing the one before) and a new one begins.
#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>

#include "output.hpp"

namespace orvane::app {

// What makes two records the same execution: its job and its start.
std::pair<std::string, std::string> execution_key(const Json& run);

class ExecutionHistory {
 public:
  static constexpr std::uintmax_t ROTATE_BYTES = std::uintmax_t{4} << 20;

  explicit ExecutionHistory(const std::filesystem::path& data_dir);

  // Appends the execution's dictionary form as one line, written through to the disk. Throws
  // Failure when it cannot.
  void append(const Json& execution) const;
  // Appends the executions of `saved` (those the state file holds) that the history lacks: the
  // scheduler's next save drops them, and a run stopped between saving an execution and reporting
  // it, or one that could not append, has them nowhere else.
  void adopt(const Json& saved) const;
  // Every recorded execution, oldest first. Lines that are not JSON objects (the last line of a
  // process killed while writing) are skipped.
  Json read() const;

  const std::filesystem::path& path() const { return _path; }

 private:
  std::filesystem::path _path;
};

}  // namespace orvane::app
