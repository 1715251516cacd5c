#include "orvane/summarizer/summarizer.hpp"

#include <exception>
#include <string>

#include "orvane/host/log.hpp"
#include "orvane/host/loop.hpp"
#include "summary_record.hpp"
#include "transcript.hpp"

namespace orvane::summarizer {
namespace {

using Json = nlohmann::ordered_json;

constexpr double TEMPERATURE = 0.2;
constexpr int MAX_TOKENS = 2048;

Json chat_message(const char* role, std::string content) {
  Json message = Json::object();
  message["role"] = role;
  message["content"] = std::move(content);
  return message;
}

}  // namespace

boost::asio::awaitable<nlohmann::ordered_json> ConversationSummarizer::summarize_messages(
    nlohmann::ordered_json messages, std::optional<std::string> existing_summary) {
  if (messages.is_null() || (messages.is_array() && messages.empty())) co_return _empty_summary();

  // Outside the guarded section: a malformed message list is the caller's fault and reaches it.
  const std::string transcript = _format_messages_for_summary(messages);

  std::string prompt(SUMMARIZE_PROMPT);
  if (existing_summary && !existing_summary->empty()) {
    prompt += "\n\n\n## Previous Summary (build on this):\n";
    prompt += *existing_summary;
  }
  prompt += "\n\n\n## Conversation to Summarize:\n";
  prompt += transcript;

  const auto logger = host::get_logger("orvane.summarizer");
  try {
    // Built before the co_await: g++ 12 miscompiles initializer lists inside an await expression.
    Json request = Json::array();
    request.push_back(chat_message("system", std::move(prompt)));
    request.push_back(
        chat_message("user", "Summarize the conversation above. Return ONLY the JSON object."));
    const host::LlmResponse reply =
        co_await _llm.complete(std::move(request), TEMPERATURE, MAX_TOKENS);
    if (reply.content && !reply.content->empty()) co_return _parse_summary(*reply.content);
    logger->warn("Empty response from summarizer LLM");
    co_return _fallback_summary(messages);
  } catch (const std::exception& error) {
    if (host::is_cancellation(error)) throw;
    logger->error("Summarization failed: {}", error.what());
  } catch (...) {
    logger->error("Summarization failed: unknown error");
  }
  co_return _fallback_summary(messages);
}

}  // namespace orvane::summarizer
