// `orvane skill ...`: the skills the agent made for itself, stored in the data directory.
#include <cstdint>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include "cli.hpp"
#include "json_input.hpp"
#include "orvane/common/path_text.hpp"
#include "orvane/skills/creator.hpp"
#include "quiet_logger.hpp"
#include "skill_examples.hpp"
#include "skill_key_hints.hpp"
#include "terminal_text.hpp"
#include "text_table.hpp"

namespace orvane::app {
namespace {

using skills::SkillCreator;

std::string text_of(const Json& value) {
  return value.is_string() ? value.get<std::string>() : value.dump();
}

// The creator's messages may span lines (one per validation error); stderr gets one line.
std::string one_line(const std::string& message) {
  std::string line;
  for (std::size_t i = 0; i < message.size(); ++i) {
    if (message[i] != '\n') {
      line += message[i];
      continue;
    }
    const bool item = message.compare(i + 1, 4, "  - ") == 0;
    line += line.ends_with(':') ? " " : "; ";
    if (item) i += 4;
  }
  return line;
}

// --json prints the creator's message as it is; the failure line names the keys to write.
void print_result(const Cli& cli, bool success, const std::string& message) {
  if (cli.json) print_json(Json{{"success", success}, {"message", message}});
  if (!success) throw Failure(one_line(with_key_hints(message)));
  if (!cli.json) std::cout << message << '\n';
}

// The creator logs a failed save of the improvement log and goes on: the command fails instead.
void log_learning(SkillCreator& creator, const std::string& name, const std::string& reason,
                  const std::optional<Json>& details) {
  if (!creator.get_skill_source(name)) {
    std::cerr << "orvane: warning: no saved skill named '" << terminal_safe(name)
              << "'; the learning is recorded all the same\n";
  }
  QuietLogger quiet("orvane.skills.creator");
  creator.log_learning(name, reason, details);
  for (const std::string& problem : quiet.problems()) {
    if (problem.starts_with("Failed to save")) throw Failure(problem);
    std::cerr << "orvane: warning: " << terminal_safe(problem) << '\n';
  }
}

void print_listing(const Cli& cli, const SkillCreator& creator) {
  const auto skills = creator.list_saved_skills();
  if (cli.json) {
    print_json(Json(skills));
    return;
  }
  if (skills.empty()) {
    std::cout << "No saved skills in " << creator.SKILLS_DIR.string() << '\n';
    return;
  }
  TextTable table({"NAME", "VERSION", "CATEGORY", "STEPS", "APP", "DESCRIPTION"});
  for (const Json& skill : skills) {
    table.add({text_of(skill["name"]), text_of(skill["version"]), text_of(skill["category"]),
               text_of(skill["steps_count"]), text_of(skill["app"]),
               cell(text_of(skill["description"]))});
  }
  table.print(std::cout);
}

void print_log(const Cli& cli, const SkillCreator& creator, std::int64_t limit) {
  const auto entries = creator.get_improvement_log(limit);
  if (cli.json) {
    print_json(Json(entries));
    return;
  }
  if (entries.empty()) {
    std::cout << "The improvement log is empty\n";
    return;
  }
  TextTable table({"TIME", "ACTION", "SKILL", "REASON"});
  for (const Json& entry : entries) {
    table.add({text_of(entry["timestamp"]), text_of(entry["action"]), text_of(entry["skill_name"]),
               cell(text_of(entry["reason"]))});
  }
  table.print(std::cout);
}

void print_stats(const Cli& cli, const SkillCreator& creator) {
  const Json stats = creator.get_improvement_stats();
  if (cli.json) {
    print_json(stats);
    return;
  }
  for (const auto& [key, value] : stats.items()) {
    std::cout << key << ": " << text_of(value) << '\n';
  }
}

}  // namespace

void add_skill_commands(Cli& cli) {
  struct Options {
    std::string file, name, reason, kind = "simple";
    std::optional<std::string> details;
    std::int64_t limit = 50;
  };
  auto options = std::make_shared<Options>();
  // Made when a skill command runs, in the data directory the command line names.
  const auto creator = [&cli] { return std::make_unique<SkillCreator>(cli.data_dir()); };

  auto* skill = cli.app.add_subcommand("skill", "Skills the agent made for itself");
  skill->require_subcommand(1);

  auto* create = skill->add_subcommand(
      "create", "Create or update a skill from a JSON object (\"type\": \"python\" for a script)");
  create
      ->add_option("FILE", options->file,
                   "The skill's JSON file (-: standard input; at most 64 MiB)")
      ->required();
  cli.on(create, [&cli, options, creator] {
    const Json data = parse_json_input(read_input_file(common::path_from_utf8(options->file)),
                                       input_name(common::path_from_utf8(options->file)));
    const auto result = creator()->create_from_dict(data);
    print_result(cli, result.success, result.message);
  });

  auto* list = skill->add_subcommand("list", "List the saved skills");
  cli.on(list, [&cli, creator] { print_listing(cli, *creator()); });

  auto* show = skill->add_subcommand("show", "Print a saved skill's stored JSON");
  show->add_option("NAME", options->name, "The skill's name")->required();
  cli.on(show, [options, creator] {
    const auto source = creator()->get_skill_source(options->name);
    if (!source) throw Failure("no saved skill named '" + options->name + "'");
    print_json(*source);
  });

  auto* remove = skill->add_subcommand("delete", "Delete a saved skill");
  remove->add_option("NAME", options->name, "The skill's name")->required();
  cli.on(remove, [&cli, options, creator] {
    const auto result = creator()->delete_skill(options->name);
    print_result(cli, result.success, result.message);
  });

  auto* learn = skill->add_subcommand("learn", "Record what was learned about a skill");
  learn->add_option("NAME", options->name, "The skill's name")->required();
  learn->add_option("REASON", options->reason, "What was learned")->required();
  learn->add_option("--details", options->details, "A JSON object of further facts");
  cli.on(learn, [&cli, options, creator] {
    std::optional<Json> details;
    if (options->details) {
      try {
        details = parse_json_input(*options->details, "--details");
      } catch (const Failure& error) {
        throw UsageError(error.what());
      }
      if (!details->is_object()) throw UsageError("--details must be a JSON object");
    }
    auto made = creator();
    log_learning(*made, options->name, options->reason, details);
    const auto last = made->get_improvement_log(1);
    if (cli.json) {
      print_json(last.empty() ? Json() : last.back());
    } else {
      std::cout << "Recorded a learning about " << options->name << '\n';
    }
  });

  auto* example = skill->add_subcommand(
      "example", "Print a complete skill to start from, as `skill create` takes it");
  example->add_option("KIND", options->kind, "simple (steps of the desktop tool) or script")
      ->check(CLI::IsMember({"simple", "script"}))
      ->capture_default_str();
  cli.on(example, [options] {
    std::cout << (options->kind == "script" ? SCRIPT_SKILL_EXAMPLE : SIMPLE_SKILL_EXAMPLE);
  });

  auto* log = skill->add_subcommand("log", "Show the latest entries of the improvement log");
  log->add_option("--limit", options->limit, "How many entries (0: all; -K: all after the first K)")
      ->capture_default_str();
  cli.on(log, [&cli, options, creator] { print_log(cli, *creator(), options->limit); });

  auto* stats = skill->add_subcommand("stats", "Count what the improvement log and skills hold");
  cli.on(stats, [&cli, creator] { print_stats(cli, *creator()); });
}

}  // namespace orvane::app
