#pragma once
// Summarizing a message list with the configured model, or the fallback record without one.
#include <optional>
#include <string>

#include "output.hpp"

namespace orvane::app {

struct Summary {
  Json record;
  // Why the record is not the model's summary (no model, a failed call, an unreadable reply);
  // empty when it is.
  std::optional<std::string> fallback_reason;
};

// Throws Failure for a list the summarizer cannot read as a conversation.
Summary summarize_conversation(Json messages, const std::optional<std::string>& previous);

}  // namespace orvane::app
