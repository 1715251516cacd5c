// The summarizer's road: a bundled conversation summarized with the configured model (or the
// fallback record without one) and rendered for the system prompt.
#include <string>

#include "model.hpp"
#include "orvane/summarizer/summarizer.hpp"
#include "summarize.hpp"
#include "tour/sample_conversation.hpp"
#include "tour/tour.hpp"

namespace orvane::app::tour {
namespace {

constexpr const char* SECTION = "summarizer";
const char* const RECORD_KEYS[] = {"goals",         "progress",  "current_state",
                                   "key_decisions", "key_facts", "blockers",
                                   "next_steps",    "summary",   "created_at"};

void check_shape(const Json& record) {
  std::size_t i = 0;
  for (const auto& [key, value] : record.items()) {
    if (i >= std::size(RECORD_KEYS) || key != RECORD_KEYS[i]) {
      throw CheckFailed("unexpected key \"" + key + "\" in the record");
    }
    ++i;
  }
  if (i != std::size(RECORD_KEYS)) throw CheckFailed("the record lacks keys");
}

// The record the summarizer makes from the messages when no model reply can be used.
std::string fallback_summary(const Json& messages) {
  return "Conversation with " + std::to_string(messages.size()) +
         " messages. Primary request: " + messages[0]["content"].get<std::string>();
}

}  // namespace

void summarizer_section(Tour& tour) {
  const bool configured = model_configured();
  tour.say() << "\n== summarizer: "
             << (configured ? "model at ORVANE_LLM_URL" : "no model configured (ORVANE_LLM_URL)")
             << std::endl;
  const Json messages = Json::parse(SAMPLE_CONVERSATION);
  Json record;
  const bool summarized = tour.check(
      SECTION,
      configured ? "summarize the sample with the model" : "fallback record without a model", [&] {
        record = summarize_conversation(messages, std::nullopt).record;
        check_shape(record);
        const std::string summary =
            record["summary"].is_string() ? record["summary"].get<std::string>() : "";
        tour.say() << "    summary: " << summary << std::endl;
        if (configured) {
          if (summary.empty()) throw CheckFailed("the model's record has no summary");
          if (summary == fallback_summary(messages)) {
            throw CheckFailed("the model call failed, the fallback record was used");
          }
          return "the model's record: " + std::to_string(record["goals"].size()) + " goals, " +
                 std::to_string(record["next_steps"].size()) + " next steps";
        }
        if (summary != fallback_summary(messages) ||
            record["current_state"] != "Conversation had 8 messages before summarization") {
          throw CheckFailed("not the fallback record: " + record.dump().substr(0, 200));
        }
        return std::string("the fallback record of 8 messages with the first request");
      });
  if (!summarized) {
    tour.skip(SECTION, "render for the system prompt", "no summary");
    return;
  }
  tour.check(SECTION, "render for the system prompt", [&] {
    const std::string text = summarizer::ConversationSummarizer::format_summary_for_context(record);
    const std::string narrative = "### Narrative Summary\n" + record["summary"].get<std::string>();
    if (!text.starts_with("## Conversation History Summary\n") ||
        text.find(narrative) == std::string::npos) {
      throw CheckFailed("the rendered text lacks its heading or the narrative");
    }
    tour.say() << text << std::endl;
    return std::to_string(text.size()) + " bytes of Markdown with the heading and the narrative";
  });
}

}  // namespace orvane::app::tour
