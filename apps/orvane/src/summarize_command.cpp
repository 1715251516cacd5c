// `orvane summarize FILE.json`: one conversation file summarized with the configured model.
#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include "cli.hpp"
#include "json_input.hpp"
#include "model.hpp"
#include "orvane/summarizer/summarizer.hpp"
#include "quiet_logger.hpp"
#include "run_async.hpp"
#include "summarize.hpp"

namespace orvane::app {
namespace {

namespace asio = boost::asio;
using orvane::summarizer::ConversationSummarizer;

Json read_conversation(const std::string& path) {
  Json messages = parse_json_input(read_input_file(path), path);
  if (!messages.is_array()) {
    throw Failure(path + " holds a JSON " + messages.type_name() + ", not an array of messages");
  }
  return messages;
}

void print_record(const Json& record) {
  for (const auto& [key, value] : record.items()) {
    if (key == "created_at") continue;
    if (value.is_array()) {
      std::cout << key << ":" << (value.empty() ? " (none)" : "") << '\n';
      for (const Json& item : value) {
        std::cout << "  - " << (item.is_string() ? item.get<std::string>() : item.dump()) << '\n';
      }
    } else {
      std::cout << key << ": " << (value.is_string() ? value.get<std::string>() : value.dump())
                << '\n';
    }
  }
}

}  // namespace

Json summarize_conversation(Json messages, const std::optional<std::string>& previous) {
  const bool configured = model_configured();
  std::unique_ptr<host::LlmClient> model = make_model_client();
  // Without a model the summarizer's failure message would repeat what the caller says itself.
  std::optional<QuietLogger> quiet;
  if (!configured) quiet.emplace("orvane.summarizer");
  ConversationSummarizer summarizer(*model);
  try {
    return run_async([&]() -> asio::awaitable<Json> {
      co_return co_await summarizer.summarize_messages(std::move(messages), previous);
    });
  } catch (const summarizer::MessageFormatError& error) {
    throw Failure(std::string("not a conversation: ") + error.what());
  }
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
  sub->add_option("FILE", options->file, "The conversation file")->required();
  sub->add_option("--previous", options->previous, "An earlier summary to build on");
  sub->add_flag("--render", options->render, "Print the summary as it goes into the system prompt");
  cli.on(sub, [&cli, options] {
    const Json record = summarize_conversation(read_conversation(options->file), options->previous);
    if (!model_configured()) {
      std::cerr << "orvane: no model configured (ORVANE_LLM_URL is not set): printing the "
                   "fallback record\n";
    }
    if (options->render) {
      std::cout << ConversationSummarizer::format_summary_for_context(record) << '\n';
    } else if (cli.json) {
      print_json(record);
    } else {
      print_record(record);
    }
  });
}

}  // namespace orvane::app
