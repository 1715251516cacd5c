#pragma once
// What every command shares: the global options and the chosen action.
#include <CLI/CLI.hpp>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "output.hpp"

namespace orvane::app {

struct Cli {
  CLI::App app{"orvane: the command-line host of the Orvane components", "orvane"};
  std::optional<std::string> data_dir_option;  // UTF-8
  bool json = false;
  bool verbose = false;
  // Set by the subcommand that the command line chose; runs after parsing.
  std::function<void()> action;

  // --data-dir, or ~/.orvane.
  std::filesystem::path data_dir() const;
  // Refuses a data directory that can never be one (an empty --data-dir, a path through a file):
  // a UsageError for --data-dir, a Failure for the default.
  void check_data_dir() const;
  // Makes `sub` run `body` when it is chosen.
  void on(CLI::App* sub, std::function<void()> body);
};

// Each command group registers its subcommands on the Cli.
void add_schedule_commands(Cli& cli);
void add_skill_commands(Cli& cli);
void add_desk_commands(Cli& cli);
void add_summarize_command(Cli& cli);
void add_tour_command(Cli& cli);

}  // namespace orvane::app
