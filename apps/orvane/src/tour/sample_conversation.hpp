#pragma once
// The conversation the tour summarizes: a user, the agent and one tool call.
#include <string_view>

namespace orvane::app::tour {

extern const std::string_view SAMPLE_CONVERSATION;

}  // namespace orvane::app::tour
