#include "scheduler_lock.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

#include "output.hpp"

namespace orvane::app {

SchedulerLock::SchedulerLock(const std::filesystem::path& data_dir,
                             std::chrono::milliseconds patience) {
  std::filesystem::create_directories(data_dir);
  const auto path = data_dir / "scheduler.lock";
  _fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (_fd < 0) throw Failure("cannot open " + path.string() + ": " + std::strerror(errno));
  const auto deadline = std::chrono::steady_clock::now() + patience;
  while (::flock(_fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno != EWOULDBLOCK && errno != EINTR) {
      const int error = errno;
      ::close(_fd);
      throw Failure("cannot lock " + path.string() + ": " + std::strerror(error));
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      ::close(_fd);
      throw Failure("the scheduler state in " + data_dir.string() +
                    " is in use by another orvane process (is 'orvane schedule run' running?)");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

SchedulerLock::~SchedulerLock() {
  ::close(_fd);  // releases the lock
}

}  // namespace orvane::app
