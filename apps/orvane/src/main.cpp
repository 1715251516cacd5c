// orvane: one command-line program over the scheduler, the skill creator, the desktop executor
// and the summarizer.
#include <cstdlib>
#include <exception>
#include <iostream>
#include <string>

#include "cli.hpp"
#include "command_line.hpp"
#include "orvane/host/log.hpp"
#include "parse_errors.hpp"
#include "terminal_text.hpp"

namespace {

constexpr int EXIT_FAILED = 1;
constexpr int EXIT_USAGE = 2;

void set_log_level(bool verbose) {
  // ORVANE_LOG_LEVEL, when set, is applied by the host's stderr sink; otherwise the libraries'
  // progress messages stay out of the way of the command's own output.
  if (std::getenv("ORVANE_LOG_LEVEL") != nullptr) return;
  orvane::host::set_level(verbose ? spdlog::level::info : spdlog::level::warn);
}

int fail(int code, const std::string& message) {
  std::cout.flush();
  // The message may quote what the user typed or a file held: one line, nothing the terminal obeys.
  std::cerr << "orvane: " << orvane::app::terminal_safe(message) << '\n';
  return code;
}

}  // namespace

int orvane::app::run_command_line(int argc, char** argv) {
  using namespace orvane::app;
  Cli cli;
  auto& app = cli.app;
  app.set_help_all_flag("--help-all", "Show the help of every subcommand");
  app.set_version_flag("--version", "orvane " ORVANE_VERSION);
  app.require_subcommand(1);
  app.fallthrough();
  app.add_option("--data-dir", cli.data_dir_option,
                 "Directory of every file the components write (default ~/.orvane)");
  app.add_flag("--json", cli.json, "Print the components' own JSON records");
  app.add_flag("-v,--verbose", cli.verbose, "Show the components' progress messages on stderr");

  add_schedule_commands(cli);
  add_skill_commands(cli);
  add_desk_commands(cli);
  add_summarize_command(cli);
  add_tour_command(cli);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    if (error.get_exit_code() == 0) return app.exit(error);  // --help
    return fail(EXIT_USAGE, explain_parse_error(app, error));
  }
  set_log_level(cli.verbose);
  try {
    cli.check_data_dir();
    if (cli.action) cli.action();
    return 0;
  } catch (const ExitStatus& error) {
    return fail(error.code, error.what());
  } catch (const UsageError& error) {
    return fail(EXIT_USAGE, std::string(error.what()) + " (see --help)");
  } catch (const std::exception& error) {
    return fail(EXIT_FAILED, error.what());
  } catch (...) {
    return fail(EXIT_FAILED, "unknown error");
  }
}
