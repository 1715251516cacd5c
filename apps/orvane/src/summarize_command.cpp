// `orvane summarize FILE.json`: one conversation file summarized with the configured model.
#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include "cli.hpp"
#include "json_input.hpp"
#include "model.hpp"
#include "orvane/common/path_text.hpp"
#include "orvane/summarizer/summarizer.hpp"
#include "quiet_logger.hpp"
#include "run_async.hpp"
#include "summarize.hpp"
#include "terminal_text.hpp"

namespace orvane::app {
namespace {

namespace asio = boost::asio;
using orvane::summarizer::ConversationSummarizer;

// A script tells a fallback record from the model's summary by this exit status.
constexpr int EXIT_FALLBACK = 3;

Json read_conversation(const std::string& file) {
  const std::filesystem::path path = common::path_from_utf8(file);
  const std::string name = input_name(path);
  Json messages = parse_json_input(read_input_file(path), name);
  if (!messages.is_array()) {
    throw Failure(name + " holds a JSON " + messages.type_name() + ", not an array of messages");
  }
  return messages;
}

void print_record(const Json& record) {
  for (const auto& [key, value] : record.items()) {
    if (key == "created_at") continue;
    if (value.is_array()) {
      std::cout << key << ":" << (value.empty() ? " (none)" : "") << '\n';
      for (const Json& item : value) {
        std::cout << "  - "
                  << terminal_safe(item.is_string() ? item.get<std::string>() : item.dump())
                  << '\n';
      }
    } else {
      std::cout << terminal_safe(key) << ": "
                << terminal_safe(value.is_string() ? value.get<std::string>() : value.dump())
                << '\n';
    }
  }
}

}  // namespace

Summary summarize_conversation(Json messages, const std::optional<std::string>& previous) {
  std::unique_ptr<host::LlmClient> model = make_model_client();
  // The summarizer logs why it fell back (and returns a record all the same); the caller says it
  // in its own words.
  QuietLogger quiet("orvane.summarizer");
  ConversationSummarizer summarizer(*model);
  Summary summary;
  try {
    summary.record = run_async([&]() -> asio::awaitable<Json> {
      co_return co_await summarizer.summarize_messages(std::move(messages), previous);
    });
  } catch (const summarizer::MessageFormatError& error) {
    throw Failure(std::string("not a conversation: ") + error.what());
  }
  const auto problems = quiet.problems();
  if (!problems.empty()) {
    summary.fallback_reason = model_configured()
                                  ? "the model gave no usable summary (" + problems.front() + ")"
                                  : "no model configured (ORVANE_LLM_URL is not set)";
  }
  return summary;
}

void add_summarize_command(Cli& cli) {
  struct Options {
    std::string file;
    std::optional<std::string> previous;
    bool render = false;
  };
  auto options = std::make_shared<Options>();
  auto* sub =
      cli.app.add_subcommand("summarize", "Summarize a conversation (a JSON array of messages)");
  sub->add_option("FILE", options->file,
                  "The conversation file (-: standard input; at most 64 MiB)")
      ->required();
  sub->add_option("--previous", options->previous, "An earlier summary to build on");
  sub->add_flag("--render", options->render, "Print the summary as it goes into the system prompt");
  sub->footer(
      "Exit status 3: the model gave no usable summary and the record printed is the "
      "fallback one built from the messages.");
  cli.on(sub, [&cli, options] {
    const Summary summary =
        summarize_conversation(read_conversation(options->file), options->previous);
    const Json& record = summary.record;
    if (options->render) {
      std::cout << ConversationSummarizer::format_summary_for_context(record) << '\n';
    } else if (cli.json) {
      print_json(record);
    } else {
      print_record(record);
    }
    if (summary.fallback_reason) {
      throw ExitStatus(EXIT_FALLBACK, *summary.fallback_reason + ": printing the fallback record");
    }
  });
}

}  // namespace orvane::app
