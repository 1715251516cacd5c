#pragma once
// Running a child process from an argument list (no shell).
#include <chrono>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace orvane::host {

// Every failure of run_process; what() reads like Python's subprocess errors, e.g.
// "Command '['scrot', '-o', '/tmp/x.png']' timed out after 5 seconds".
class ProcessError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};
class ProcessStartError : public ProcessError {  // the program could not be started
 public:
  using ProcessError::ProcessError;
};
class ProcessTimeout : public ProcessError {  // killed after the time-out
 public:
  using ProcessError::ProcessError;
};
class ProcessExitError : public ProcessError {  // non-zero exit while `check` was asked
 public:
  using ProcessError::ProcessError;
  int exit_code = 0;
};

struct ProcessOptions {
  double timeout_seconds = 0;        // 0: no time-out
  bool capture_output = false;       // keep standard output (else it goes to /dev/null)
  bool check = false;                // a non-zero exit status is a ProcessExitError
  std::optional<std::string> input;  // written to standard input, which is then closed
  // A session of its own and standard error on /dev/null too: for a tool that leaves a process
  // behind (a clipboard owner), which must hold neither the caller's terminal nor its pipes.
  bool detached = false;
};

struct ProcessResult {
  int exit_code = 0;   // the exit status, or 128 + signal number
  std::string output;  // standard output when captured
};

// Runs args[0] (looked up on PATH) with the arguments; waits for its end.
ProcessResult run_process(const std::vector<std::string>& args, const ProcessOptions& options = {});

// True when `program` is found on PATH (or is an executable path).
bool program_exists(const std::string& program);

}  // namespace orvane::host
