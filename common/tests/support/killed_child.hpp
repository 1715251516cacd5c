#pragma once
// Runs a program that prints a line for every step it takes, and kills it with SIGKILL at a
// chosen moment: the lines it printed before it died are what it had finished.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

namespace orvane::testing {

struct KilledChild {
  std::vector<std::string> lines;  // every line printed after the ready line
  bool killed = false;             // false: it ended on its own before the kill
};

// Starts `args` (standard error inherited), waits up to 30 s for the line `ready`, lets it run
// for `run_for` more, kills it and reads the rest of its output to the end.
inline KilledChild run_and_kill(const std::vector<std::string>& args, const std::string& ready,
                                std::chrono::microseconds run_for) {
  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  std::vector<std::string> copy = args;
  std::vector<char*> argv;
  for (auto& arg : copy) argv.push_back(arg.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  if (spawned != 0) {
    ::close(out[0]);
    throw std::runtime_error("cannot start " + args[0]);
  }

  KilledChild result;
  std::string pending;
  bool seen_ready = false;
  bool open = true;
  // Reads what is there within `timeout_ms`; splits it into lines.
  const auto read_some = [&](int timeout_ms) {
    pollfd fd{out[0], POLLIN, 0};
    if (::poll(&fd, 1, timeout_ms) <= 0) return;
    char buffer[65536];
    const auto n = ::read(out[0], buffer, sizeof buffer);
    if (n <= 0) {
      open = false;
      return;
    }
    pending.append(buffer, static_cast<std::size_t>(n));
    for (std::size_t end; (end = pending.find('\n')) != std::string::npos;) {
      auto line = pending.substr(0, end);
      pending.erase(0, end + 1);
      if (seen_ready) {
        result.lines.push_back(std::move(line));
      } else if (line == ready) {
        seen_ready = true;
      }
    }
  };
  using clock = std::chrono::steady_clock;
  const auto start_deadline = clock::now() + std::chrono::seconds(30);
  while (open && !seen_ready && clock::now() < start_deadline) read_some(50);
  const auto kill_at = clock::now() + run_for;
  while (open && seen_ready) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(kill_at - clock::now());
    if (left.count() < 0) break;
    read_some(static_cast<int>(left.count()));
  }
  ::kill(pid, SIGKILL);
  while (open) read_some(-1);
  ::close(out[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  result.killed = WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
  if (!seen_ready) throw std::runtime_error(args[0] + " never printed '" + ready + "'");
  return result;
}

// How many times a kill test kills its child: ORVANE_KILL_ROUNDS, else `fallback`.
inline int kill_rounds(int fallback) {
  const char* value = std::getenv("ORVANE_KILL_ROUNDS");
  return value != nullptr ? std::atoi(value) : fallback;
}

// ORVANE_KILL_SEED to replay a run, else a fresh seed; the test prints it.
inline std::uint64_t kill_seed() {
  const char* value = std::getenv("ORVANE_KILL_SEED");
  return value != nullptr ? std::strtoull(value, nullptr, 10) : std::random_device{}();
}

}  // namespace orvane::testing
