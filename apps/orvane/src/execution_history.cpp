#include "execution_history.hpp"

#include <fstream>
#include <set>
#include <string>
#include <system_error>

#include "durable_append.hpp"
#include "json_input.hpp"

namespace orvane::app {
namespace {

namespace fs = std::filesystem;

std::filesystem::path rotated(const fs::path& path) {
  return path.string() + ".1";
}

void read_lines(const fs::path& path, Json& runs) {
  std::ifstream in(path, std::ios::binary);
  std::string line;
  while (std::getline(in, line)) {
    try {
      Json run = parse_json_input(line, path.string());
      if (run.is_object()) runs.push_back(std::move(run));
    } catch (const Failure&) {
      // A line cut short by a killed writer; the lines after it were written whole.
    }
  }
}

}  // namespace

ExecutionHistory::ExecutionHistory(const fs::path& data_dir)
    : _path(data_dir / "schedule_history.jsonl") {}

void ExecutionHistory::append(const Json& execution) const {
  try {
    std::error_code missing;
    const auto size_before = fs::file_size(_path, missing);
    if (!missing && size_before >= ROTATE_BYTES) fs::rename(_path, rotated(_path));
    append_line_durably(_path,
                        execution.dump(-1, ' ', false, Json::error_handler_t::replace) + '\n');
  } catch (const std::exception& error) {
    throw Failure("cannot record the execution in " + _path.string() + ": " + error.what());
  }
}

std::pair<std::string, std::string> execution_key(const Json& run) {
  return {run.value("job_id", Json()).dump(), run.value("started_at", Json()).dump()};
}

void ExecutionHistory::adopt(const Json& saved) const {
  if (saved.empty()) return;
  std::set<std::pair<std::string, std::string>> known;
  for (const Json& run : read()) known.insert(execution_key(run));
  for (const Json& run : saved) {
    if (known.insert(execution_key(run)).second) append(run);
  }
}

Json ExecutionHistory::read() const {
  Json runs = Json::array();
  read_lines(rotated(_path), runs);
  read_lines(_path, runs);
  return runs;
}

}  // namespace orvane::app
