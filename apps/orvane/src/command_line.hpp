#pragma once
// The program's body, from the system's entry point: arguments are UTF-8.

namespace orvane::app {

// Runs the command `argv` names; returns the exit status.
int run_command_line(int argc, char** argv);

}  // namespace orvane::app
