#pragma once
// Standard output and error on one pipe while a call runs, as under `$(...)`: whatever the call
// leaves behind holding the pipe keeps a reader of the pipe waiting.
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <functional>

namespace orvane::pc::testing {

// Runs `call` with fds 1 and 2 on a pipe; true when the pipe's reader sees its end within
// `timeout` after the call returned.
inline bool streams_closed_after(const std::function<void()>& call,
                                 std::chrono::milliseconds timeout) {
  int ends[2];
  if (pipe(ends) != 0) return false;
  const int saved_out = dup(1), saved_err = dup(2);
  dup2(ends[1], 1);
  dup2(ends[1], 2);
  close(ends[1]);
  const auto restore = [&] {
    dup2(saved_out, 1);
    dup2(saved_err, 2);
    close(saved_out);
    close(saved_err);
  };
  try {
    call();
  } catch (...) {
    restore();
    close(ends[0]);
    throw;
  }
  restore();
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  bool closed = false;
  char buffer[256];
  for (pollfd fd{ends[0], POLLIN, 0}; !closed && std::chrono::steady_clock::now() < deadline;) {
    if (poll(&fd, 1, 20) > 0) closed = read(ends[0], buffer, sizeof buffer) == 0;
  }
  close(ends[0]);
  return closed;
}

}  // namespace orvane::pc::testing
