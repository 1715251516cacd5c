#include "support/child_process.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>

extern char** environ;

namespace orvane::app::testing {

Child::Child(const std::vector<std::string>& args, const EnvChanges& env) {
  std::vector<std::string> environment;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    if (!env.contains(entry.substr(0, entry.find('=')))) environment.push_back(entry);
  }
  for (const auto& [name, value] : env) {
    if (value) environment.push_back(name + "=" + *value);
  }
  int out[2], err[2];
  if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err[1], 2);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  std::vector<char*> argv, envp;
  std::vector<std::string> arg_copy = args;
  for (auto& a : arg_copy) argv.push_back(a.data());
  argv.push_back(nullptr);
  for (auto& e : environment) envp.push_back(e.data());
  envp.push_back(nullptr);
  const int rc = posix_spawn(&_pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  close(err[1]);
  _out_fd = out[0];
  _err_fd = err[0];
  if (rc != 0) throw std::runtime_error(std::string("cannot start ") + argv[0]);
}

Child::~Child() {
  if (_pid > 0) {
    kill(_pid, SIGKILL);
    waitpid(_pid, nullptr, 0);
  }
  if (_out_fd >= 0) close(_out_fd);
  if (_err_fd >= 0) close(_err_fd);
}

void Child::_read(int timeout_ms) {
  pollfd fds[2] = {{_out_fd, POLLIN, 0}, {_err_fd, POLLIN, 0}};
  if (poll(fds, 2, timeout_ms) <= 0) return;
  char buffer[65536];
  for (int i = 0; i < 2; ++i) {
    if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
    const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
    if (n > 0) {
      (i == 0 ? _out : _err).append(buffer, static_cast<std::size_t>(n));
    } else {
      close(fds[i].fd);
      (i == 0 ? _out_fd : _err_fd) = -1;
    }
  }
}

bool Child::wait_for_output(const std::string& text, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (_out.find(text) == std::string::npos) {
    if (_out_fd < 0 || std::chrono::steady_clock::now() > deadline) return false;
    _read(20);
  }
  return true;
}

void Child::signal(int number) {
  kill(_pid, number);
}

Outcome Child::finish(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (_out_fd >= 0 || _err_fd >= 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(_pid, SIGKILL);
      break;
    }
    _read(20);
  }
  int status = 0;
  waitpid(_pid, &status, 0);
  _pid = -1;
  Outcome outcome{-1, _out, _err};
  if (WIFEXITED(status)) outcome.exit_code = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) outcome.exit_code = 128 + WTERMSIG(status);
  return outcome;
}

Outcome run_orvane(const std::vector<std::string>& args, const EnvChanges& env) {
  std::vector<std::string> argv{ORVANE_BINARY};
  argv.insert(argv.end(), args.begin(), args.end());
  return Child(argv, env).finish();
}

}  // namespace orvane::app::testing
