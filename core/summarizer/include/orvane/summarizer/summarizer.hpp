#pragma once
// Compresses the oldest part of a long conversation into a structured summary record, and renders
// such a record as text for the agent's system prompt.
#include "orvane/host/asio_threads.hpp"  // first: see there

#include <boost/asio/awaitable.hpp>
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <string>

#include "orvane/host/llm.hpp"

namespace orvane::summarizer {

// A message list that cannot be read as a conversation: a message that is not an object, a
// `tool_calls` entry that is a number or true, a `function` entry that is not an object, a
// message nested more than 512 levels deep.
class MessageFormatError : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

class ConversationSummarizer {
 public:
  // The client is the host's and must outlive the summarizer; it is never configured or closed
  // here.
  explicit ConversationSummarizer(host::LlmClient& llm_client) : _llm(llm_client) {}

  // Summarizes `messages` (a JSON array of message records, oldest first), building on
  // `existing_summary` when given. Returns the nine-key summary record: "goals", "progress",
  // "current_state", "key_decisions", "key_facts", "blockers", "next_steps", "summary",
  // "created_at". A failing or unusable model reply gives a record built from the messages
  // instead. Throws MessageFormatError for a malformed message list; cancellation of the awaiting
  // task reaches the caller as boost::system::system_error(operation_aborted).
  boost::asio::awaitable<nlohmann::ordered_json> summarize_messages(
      nlohmann::ordered_json messages, std::optional<std::string> existing_summary = std::nullopt);

  // The record as Markdown for the system prompt: a heading, a note and one section per
  // non-empty part.
  static std::string format_summary_for_context(const nlohmann::ordered_json& summary);

 private:
  host::LlmClient& _llm;
};

}  // namespace orvane::summarizer
