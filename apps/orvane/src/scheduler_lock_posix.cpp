#include "scheduler_lock.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <thread>

#include "output.hpp"
#include "scheduler_lock_record.hpp"

namespace orvane::app {
namespace {

// Empties the runner's record. Should that fail, the stale record names a process that has ended
// or does not hold the lock, and readers pass over it.
void clear_runner_record(int fd) {
  if (::ftruncate(fd, 0) != 0) return;
}

}  // namespace

SchedulerLock::SchedulerLock(const std::filesystem::path& data_dir,
                             std::chrono::milliseconds patience) {
  std::filesystem::create_directories(data_dir);
  const auto path = scheduler_lock_file(data_dir);
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) throw Failure("cannot open " + path.string() + ": " + std::strerror(errno));
  _file = fd;
  const auto deadline = std::chrono::steady_clock::now() + patience;
  while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno != EWOULDBLOCK && errno != EINTR) {
      const int error = errno;
      ::close(fd);
      throw Failure("cannot lock " + path.string() + ": " + std::strerror(error));
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      ::close(fd);
      throw lock_in_use(data_dir);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  clear_runner_record(fd);  // left by a scheduler that was killed
}

SchedulerLock::~SchedulerLock() {
  clear_runner_record(static_cast<int>(_file));
  ::close(static_cast<int>(_file));  // releases the lock
}

void SchedulerLock::announce_runner() {
  const std::string record = runner_record(static_cast<long>(::getpid()));
  if (::pwrite(static_cast<int>(_file), record.data(), record.size(), 0) !=
      static_cast<ssize_t>(record.size())) {
    throw Failure(std::string("cannot record the scheduler process: ") + std::strerror(errno));
  }
}

std::optional<SchedulerRunner> find_scheduler_runner(const std::filesystem::path& data_dir) {
  const int fd = ::open(scheduler_lock_file(data_dir).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::optional<SchedulerRunner> runner;
  if (::flock(fd, LOCK_SH | LOCK_NB) == 0) {
    ::close(fd);  // nobody holds it
    return runner;
  }
  char text[256];
  const ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
  ::close(fd);
  if (n <= 0) return runner;  // a short command holds it
  runner = parse_runner_record(std::string(text, static_cast<std::size_t>(n)));
  if (runner && ::kill(static_cast<pid_t>(runner->pid), 0) != 0 && errno == ESRCH) runner.reset();
  return runner;
}

}  // namespace orvane::app
