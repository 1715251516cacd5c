#pragma once
// The plain-text transcript of a message list that the model summarizes.
#include <nlohmann/json.hpp>
#include <string>

namespace orvane::summarizer {

// One labelled line per message (and per tool call); system messages are left out. Only tool
// results (500 characters) and tool-call arguments are shortened. Throws MessageFormatError for
// a malformed message list.
std::string _format_messages_for_summary(const nlohmann::ordered_json& messages);

// "key=value, key=value" for one arguments object, each value cut to 100 characters.
std::string _brief_args(const nlohmann::ordered_json& args);

}  // namespace orvane::summarizer
