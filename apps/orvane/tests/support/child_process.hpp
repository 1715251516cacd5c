#pragma once
// Runs the built orvane binary as a user would: its own process, arguments, environment, and
// standard output and error read back.
#include <sys/types.h>

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace orvane::app::testing {

struct Outcome {
  int exit_code = -1;  // the exit status, or 128 + the signal that ended it
  std::string out;
  std::string err;
};

// Environment changes: a value sets the variable, nullopt removes it.
using EnvChanges = std::map<std::string, std::optional<std::string>>;

class Child {
 public:
  Child(const std::vector<std::string>& args, const EnvChanges& env = {});
  ~Child();  // kills a child still running
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  // Reads standard output until it holds `text` (true) or the child ends or time runs out.
  bool wait_for_output(const std::string& text,
                       std::chrono::milliseconds timeout = std::chrono::seconds(10));
  void signal(int number);
  // Waits for the end (killing the child after `timeout`) and returns everything it printed.
  Outcome finish(std::chrono::milliseconds timeout = std::chrono::seconds(30));

  const std::string& out() const { return _out; }

 private:
  void _read(int timeout_ms);

  pid_t _pid = -1;
  int _out_fd = -1;
  int _err_fd = -1;
  std::string _out;
  std::string _err;
};

// Runs `orvane ARGS...` to its end.
Outcome run_orvane(const std::vector<std::string>& args, const EnvChanges& env = {});

}  // namespace orvane::app::testing
