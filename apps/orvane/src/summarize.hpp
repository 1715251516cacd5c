#pragma once
// Summarizing a message list with the configured model, or the fallback record without one.
#include <optional>
#include <string>

#include "output.hpp"

namespace orvane::app {

// Throws Failure for a list the summarizer cannot read as a conversation.
Json summarize_conversation(Json messages, const std::optional<std::string>& previous);

}  // namespace orvane::app
