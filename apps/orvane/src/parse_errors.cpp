#include "parse_errors.hpp"

#include <algorithm>
#include <vector>

namespace orvane::app {
namespace {

// Edits (insertions, deletions, substitutions, swaps of neighbours) that turn `a` into `b`.
std::size_t distance(const std::string& a, const std::string& b) {
  std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
  for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (std::size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
      }
    }
  }
  return d[a.size()][b.size()];
}

std::string joined(const std::vector<std::string>& names) {
  std::string text;
  for (const auto& name : names) text += (text.empty() ? "" : ", ") + name;
  return text;
}

std::string command_path(const CLI::App& app) {
  const CLI::App* parent = app.get_parent();
  return parent ? command_path(*parent) + " " + app.get_name() : app.get_name();
}

std::vector<std::string> subcommand_names(CLI::App& app) {
  std::vector<std::string> names;
  for (const CLI::App* sub : app.get_subcommands([](CLI::App*) { return true; })) {
    names.push_back(sub->get_name());
  }
  return names;
}

// The options `app` understands, its parents' included: unknown ones fall through to them.
std::vector<std::string> option_names(const CLI::App& app) {
  std::vector<std::string> names;
  for (const CLI::App* at = &app; at != nullptr; at = at->get_parent()) {
    for (const CLI::Option* option : at->get_options()) {
      for (const auto& name : option->get_lnames()) names.push_back("--" + name);
      for (const auto& name : option->get_snames()) names.push_back("-" + name);
    }
  }
  return names;
}

std::string unknown(const std::string& kind, const std::string& typed,
                    const std::vector<std::string>& known) {
  const std::string near = nearest(typed, known);
  if (!near.empty())
    return "unknown " + kind + " '" + typed + "' \u2014 did you mean '" + near + "'?";
  return "unknown " + kind + " '" + typed + "' (see --help)";
}

}  // namespace

std::string nearest(const std::string& typed, const std::vector<std::string>& candidates) {
  // Without its dashes an option name is as short as a command's; one or two letters say too
  // little to guess from, except as the start of a name.
  const std::size_t length = typed.size() - std::min(typed.find_first_not_of('-'), typed.size());
  if (length == 0) return {};
  const std::size_t allowed = length < 3 ? 0 : length <= 4 ? 1 : 2;
  std::string best;
  std::size_t best_distance = allowed + 1;
  for (const auto& candidate : candidates) {
    const std::size_t d = candidate.starts_with(typed) ? 0 : distance(typed, candidate);
    if (d < best_distance) best = candidate, best_distance = d;
  }
  return best;
}

std::string explain_parse_error(CLI::App& app, const CLI::ParseError& error) {
  CLI::App* chosen = &app;
  while (!chosen->get_subcommands().empty()) chosen = chosen->get_subcommands().front();
  const auto extra = app.remaining(true);
  if (!extra.empty()) {
    const std::string& first = extra.front();
    if (first.size() > 1 && first[0] == '-') {
      return unknown("option", first.substr(0, first.find('=')), option_names(*chosen));
    }
    const auto commands = subcommand_names(*chosen);
    if (!commands.empty()) return unknown("command", first, commands);
    return "unexpected argument '" + first + "' (see --help)";
  }
  if (chosen->get_require_subcommand_min() > 0 && chosen->get_subcommands().empty()) {
    return command_path(*chosen) + " needs a command: " + joined(subcommand_names(*chosen)) +
           " (see --help)";
  }
  return std::string(error.what()) + " (see --help)";
}

}  // namespace orvane::app
