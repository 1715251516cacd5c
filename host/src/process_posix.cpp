#include "orvane/host/process.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <sstream>

#include "process_text.hpp"

extern char** environ;

namespace orvane::host {
namespace {

struct Fd {
  int fd = -1;
  ~Fd() { reset(); }
  void reset() {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
};

void make_pipe(Fd& read_end, Fd& write_end) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0)
    throw ProcessStartError(std::string("pipe: ") + std::strerror(errno));
  read_end.fd = fds[0];
  write_end.fd = fds[1];
}

void ignore_sigpipe_once() {
  static const bool done = [] {
    struct sigaction action {};
    action.sa_handler = SIG_IGN;
    ::sigaction(SIGPIPE, &action, nullptr);
    return true;
  }();
  (void)done;
}

}  // namespace

bool program_exists(const std::string& program) {
  if (program.empty()) return false;
  if (program.find('/') != std::string::npos) return ::access(program.c_str(), X_OK) == 0;
  const char* path = std::getenv("PATH");
  std::istringstream dirs(path ? path : "/usr/local/bin:/usr/bin:/bin");
  for (std::string dir; std::getline(dirs, dir, ':');) {
    const auto candidate = std::filesystem::path(dir.empty() ? "." : dir) / program;
    struct stat st {};
    if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
        ::access(candidate.c_str(), X_OK) == 0) {
      return true;
    }
  }
  return false;
}

ProcessResult run_process(const std::vector<std::string>& args, const ProcessOptions& options) {
  if (args.empty()) throw ProcessStartError("empty command");
  ignore_sigpipe_once();

  Fd in_read, in_write, out_read, out_write;
  if (options.input) make_pipe(in_read, in_write);
  if (options.capture_output) make_pipe(out_read, out_write);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (options.input) {
    posix_spawn_file_actions_adddup2(&actions, in_read.fd, STDIN_FILENO);
  } else {
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  }
  if (options.capture_output) {
    posix_spawn_file_actions_adddup2(&actions, out_write.fd, STDOUT_FILENO);
  } else {
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  }

  if (options.detached) {
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  }
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  if (options.detached) posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);

  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);

  pid_t pid = 0;
  const int rc = ::posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (rc != 0) {
    throw ProcessStartError("[Errno " + std::to_string(rc) + "] " + std::strerror(rc) + ": '" +
                            args[0] + "'");
  }
  in_read.reset();
  out_write.reset();

  using clock = std::chrono::steady_clock;
  const bool has_deadline = options.timeout_seconds > 0;
  const auto deadline =
      clock::now() + std::chrono::duration_cast<clock::duration>(
                         std::chrono::duration<double>(has_deadline ? options.timeout_seconds : 0));

  ProcessResult result;
  const std::string input = options.input.value_or("");
  std::size_t written = 0;
  if (in_write.fd >= 0 && input.empty()) in_write.reset();
  if (in_write.fd >= 0) ::fcntl(in_write.fd, F_SETFL, O_NONBLOCK);

  // A pidfd makes the child's end a pollable event; without one, check its state every 10 ms.
  Fd exit_fd;
  exit_fd.fd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));

  int status = 0;
  for (;;) {
    std::vector<pollfd> fds;
    if (out_read.fd >= 0) fds.push_back({out_read.fd, POLLIN, 0});
    if (in_write.fd >= 0) fds.push_back({in_write.fd, POLLOUT, 0});
    if (exit_fd.fd >= 0) fds.push_back({exit_fd.fd, POLLIN, 0});

    int wait_ms = exit_fd.fd >= 0 ? -1 : 10;
    if (has_deadline) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock::now());
      if (left.count() <= 0) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        throw ProcessTimeout(process_text::timed_out(args, options.timeout_seconds));
      }
      const int left_ms = static_cast<int>(std::min<long long>(left.count() + 1, 1 << 30));
      wait_ms = wait_ms < 0 ? left_ms : std::min(wait_ms, left_ms);
    }
    if (::poll(fds.data(), fds.size(), wait_ms) < 0 && errno != EINTR) {
      throw ProcessError(std::string("poll: ") + std::strerror(errno));
    }
    for (auto& p : fds) {
      if (p.fd == out_read.fd && (p.revents & (POLLIN | POLLHUP | POLLERR))) {
        char buf[65536];
        const auto n = ::read(out_read.fd, buf, sizeof buf);
        if (n > 0) {
          result.output.append(buf, static_cast<std::size_t>(n));
        } else if (n == 0 || errno != EINTR) {
          out_read.reset();
        }
      } else if (p.fd == in_write.fd && (p.revents & (POLLOUT | POLLHUP | POLLERR))) {
        const auto n = ::write(in_write.fd, input.data() + written, input.size() - written);
        if (n > 0) written += static_cast<std::size_t>(n);
        if ((n < 0 && errno != EAGAIN && errno != EINTR) || written == input.size()) {
          in_write.reset();  // all written, or the child stopped reading
        }
      }
    }
    const pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    if (done < 0 && errno != EINTR)
      throw ProcessError(std::string("waitpid: ") + std::strerror(errno));
  }
  // Output still buffered in the pipe; a background grandchild may hold it open, so do not block.
  if (out_read.fd >= 0) {
    ::fcntl(out_read.fd, F_SETFL, O_NONBLOCK);
    char buf[65536];
    for (ssize_t n; (n = ::read(out_read.fd, buf, sizeof buf)) > 0;)
      result.output.append(buf, static_cast<std::size_t>(n));
  }

  result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  if (options.check && result.exit_code != 0) {
    ProcessExitError error(WIFSIGNALED(status)
                               ? "Command '" + process_text::args_repr(args) +
                                     "' died with signal " + std::to_string(WTERMSIG(status)) + "."
                               : process_text::exit_status(args, result.exit_code));
    error.exit_code = result.exit_code;
    throw error;
  }
  return result;
}

}  // namespace orvane::host
