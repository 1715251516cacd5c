#include "transcript.hpp"

#include <string>
#include <vector>

#include "orvane/common/json_read.hpp"
#include "orvane/summarizer/summarizer.hpp"
#include "text_form.hpp"

namespace orvane::summarizer {
namespace {

using Json = nlohmann::ordered_json;

constexpr std::size_t TOOL_RESULT_LIMIT = 500;
constexpr std::size_t ARGUMENT_VALUE_LIMIT = 100;
constexpr std::size_t RAW_ARGUMENTS_LIMIT = 200;

// A tool-call field: the call's own key, else the same key of its `function` object.
Json call_field(const Json& call, const Json& function, const char* key, const Json& fallback) {
  if (call.contains(key)) return call[key];
  if (function.contains(key)) return function[key];
  return fallback;
}

void add_call_lines(const Json& tool_calls, std::vector<std::string>& lines) {
  // A list of calls; text, objects and falsy values hold no call records, but a number or true
  // cannot stand for a list at all.
  if (tool_calls.is_boolean() || tool_calls.is_number()) {
    const bool falsy = tool_calls.is_boolean() ? !tool_calls.get<bool>() : tool_calls == 0;
    if (falsy) return;
    throw MessageFormatError("tool_calls must be a list of tool calls, not " + tool_calls.dump());
  }
  if (!tool_calls.is_array()) return;
  const Json no_function = Json::object();
  for (const Json& call : tool_calls) {
    if (!call.is_object()) continue;
    if (call.contains("function") && !call["function"].is_object()) {
      throw MessageFormatError("tool call function must be an object, not " +
                               std::string(call["function"].type_name()));
    }
    const Json& function = call.contains("function") ? call["function"] : no_function;
    const std::string name = text_form(call_field(call, function, "name", "unknown"));
    Json arguments = call_field(call, function, "arguments", Json::object());
    if (arguments.is_string()) {
      try {
        Json parsed = parse_json(arguments.get_ref<const std::string&>());
        if (!parsed.is_discarded()) arguments = std::move(parsed);
      } catch (const JsonTooDeep&) {
        // Too deep to render safely: shown as the text it came as.
      }
    }
    const std::string brief = arguments.is_object()
                                  ? _brief_args(arguments)
                                  : shorten(text_form(arguments), RAW_ARGUMENTS_LIMIT, "");
    lines.push_back("[Assistant called " + name + "]: " + brief);
  }
}

}  // namespace

std::string _brief_args(const nlohmann::ordered_json& args) {
  std::string brief;
  for (const auto& [key, value] : args.items()) {
    if (!brief.empty()) brief += ", ";
    brief += key;
    brief += '=';
    brief += shorten(text_form(value), ARGUMENT_VALUE_LIMIT, "...");
  }
  return brief;
}

std::string _format_messages_for_summary(const nlohmann::ordered_json& messages) {
  if (!messages.is_array() && !messages.is_null()) {
    throw MessageFormatError("messages must be a list, not " + std::string(messages.type_name()));
  }
  std::vector<std::string> lines;
  for (const Json& message : messages) {
    if (!message.is_object()) {
      throw MessageFormatError("message must be an object, not " +
                               std::string(message.type_name()));
    }
    // Writing a value as text recurses once per level; no JSON text nests this deep.
    if (common::nests_deeper_than(message)) {
      throw MessageFormatError("message nested more than " +
                               std::to_string(common::MAX_JSON_DEPTH) + " levels deep");
    }
    const Json role = message.contains("role") ? message["role"] : Json("unknown");
    const std::string content = message.contains("content") ? content_text(message["content"]) : "";
    if (role == "tool") {
      const std::string label =
          message.contains("tool_call_id") ? text_form(message["tool_call_id"]) : "unknown";
      lines.push_back("[Tool Result (" + label +
                      ")]: " + shorten(content, TOOL_RESULT_LIMIT, "... [truncated]"));
    } else if (role == "assistant") {
      if (!content.empty()) lines.push_back("[Assistant]: " + content);
      if (message.contains("tool_calls")) add_call_lines(message["tool_calls"], lines);
    } else if (role == "user") {
      lines.push_back("[User]: " + content);
    }
  }
  std::string transcript;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i > 0) transcript += '\n';
    transcript += lines[i];
  }
  return transcript;
}

}  // namespace orvane::summarizer
