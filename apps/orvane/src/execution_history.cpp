#include "execution_history.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <set>
#include <string>
#include <system_error>

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

void write_all(int fd, const std::string& text) {
  for (std::size_t done = 0; done < text.size();) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw std::system_error(errno, std::generic_category());
    done += static_cast<std::size_t>(n);
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
    const int fd = ::open(_path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) throw std::system_error(errno, std::generic_category());
    std::string line = execution.dump(-1, ' ', false, Json::error_handler_t::replace) + '\n';
    // A line left without its end by a killed writer is ended first, so this one stays whole.
    const off_t size = ::lseek(fd, 0, SEEK_END);
    char last = '\n';
    if (size > 0 && ::pread(fd, &last, 1, size - 1) == 1 && last != '\n') line.insert(0, "\n");
    try {
      write_all(fd, line);
      if (::fdatasync(fd) != 0) throw std::system_error(errno, std::generic_category());
    } catch (...) {
      ::close(fd);
      throw;
    }
    ::close(fd);
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
