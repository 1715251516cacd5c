#include "summary_record.hpp"

#include <stdexcept>
#include <string>
#include <vector>

#include "orvane/host/clock.hpp"
#include "orvane/host/log.hpp"
#include "text_form.hpp"

namespace orvane::summarizer {
namespace {

using Json = nlohmann::ordered_json;

constexpr std::string_view FENCE = "```";
constexpr std::size_t UNPARSED_SUMMARY_LIMIT = 1000;
constexpr std::size_t REQUEST_LIMIT = 200;

Json make_record(Json goals, Json current_state, Json summary) {
  Json record = Json::object();
  record["goals"] = std::move(goals);
  record["progress"] = Json::array();
  record["current_state"] = std::move(current_state);
  record["key_decisions"] = Json::array();
  record["key_facts"] = Json::array();
  record["blockers"] = Json::array();
  record["next_steps"] = Json::array();
  record["summary"] = std::move(summary);
  record["created_at"] = host::clock().time();
  return record;
}

// The lines inside the code fence that opens the text, up to the closing fence (or the end).
std::string remove_fences(const std::string& text) {
  std::vector<std::string_view> collected;
  bool in_block = false;
  std::string_view rest = text;
  while (true) {
    const std::size_t end = rest.find('\n');
    const std::string_view line = rest.substr(0, end);
    const std::string trimmed = strip(line);
    if (!in_block) {
      if (trimmed.starts_with(FENCE)) in_block = true;
    } else if (trimmed == FENCE) {
      break;
    } else {
      collected.push_back(line);
    }
    if (end == std::string_view::npos) break;
    rest.remove_prefix(end + 1);
  }
  std::string joined;
  for (std::size_t i = 0; i < collected.size(); ++i) {
    if (i > 0) joined += '\n';
    joined += collected[i];
  }
  return joined;
}

Json value_or(const Json& object, const char* key, Json fallback) {
  return object.contains(key) ? object[key] : fallback;
}

}  // namespace

const std::string_view SUMMARIZE_PROMPT =
    "You are a conversation summarizer for an AI agent called Orvane.\n"
    "Your job is to compress a chunk of conversation into a concise summary\n"
    "that preserves ALL critical information the agent needs to continue working.\n"
    "\n"
    "You MUST extract and preserve:\n"
    "1. **GOALS**: What the user originally asked for (the top-level objective)\n"
    "2. **PROGRESS**: What steps have been completed so far\n"
    "3. **CURRENT STATE**: What the agent was working on when this chunk ended\n"
    "4. **KEY DECISIONS**: Important choices made (e.g., which approach to use)\n"
    "5. **KEY FACTS**: Technical details, file paths, URLs, credentials, names, etc.\n"
    "6. **BLOCKERS**: Any issues encountered and how they were resolved (or not)\n"
    "7. **NEXT STEPS**: What the agent planned to do next\n"
    "\n"
    "Return your summary as a JSON object with this exact structure:\n"
    "{\n"
    "  \"goals\": [\"Primary goal 1\", \"Sub-goal 2\"],\n"
    "  \"progress\": [\"Step 1 completed: did X\", \"Step 2 completed: did Y\"],\n"
    "  \"current_state\": \"Brief description of where things stand\",\n"
    "  \"key_decisions\": [\"Decided to use approach A because...\"],\n"
    "  \"key_facts\": [\"File is at /path/to/file\", \"User's name is X\"],\n"
    "  \"blockers\": [\"Issue with X was resolved by Y\"],\n"
    "  \"next_steps\": [\"Need to do A\", \"Then do B\"],\n"
    "  \"summary\": \"One paragraph narrative summary of the entire conversation chunk\"\n"
    "}\n"
    "\n"
    "Be thorough but concise. Every piece of information that the agent might\n"
    "need to continue its work MUST be preserved. Do NOT lose any goals,\n"
    "file paths, technical details, or user preferences.\n";

Json _parse_summary(std::string_view reply) {
  std::string text = strip(reply);
  if (text.starts_with(FENCE)) text = remove_fences(text);

  const Json data = parse_json(text);  // JsonTooDeep goes to the caller: the reply is unreadable
  if (data.is_discarded()) {
    host::get_logger("orvane.summarizer")->warn("Could not parse summary JSON, using fallback");
    return make_record(Json::array(), "", shorten(text, UNPARSED_SUMMARY_LIMIT, ""));
  }
  if (!data.is_object()) {
    throw std::invalid_argument("the summary reply is a JSON " + std::string(data.type_name()) +
                                ", not an object");
  }
  Json record = Json::object();
  for (const char* key : {"goals", "progress", "current_state", "key_decisions", "key_facts",
                          "blockers", "next_steps", "summary"}) {
    const bool is_text =
        std::string_view(key) == "current_state" || std::string_view(key) == "summary";
    record[key] = value_or(data, key, is_text ? Json("") : Json::array());
  }
  record["created_at"] = host::clock().time();
  return record;
}

Json _empty_summary() {
  return make_record(Json::array(), "", "");
}

Json _fallback_summary(const nlohmann::ordered_json& messages) {
  std::string request;
  bool found = false;
  for (const Json& message : messages) {
    if (!message.is_object() || !message.contains("role") || message["role"] != "user") continue;
    if (!message.contains("content")) continue;
    std::string content = content_text(message["content"]);
    if (content.empty()) continue;
    request = shorten(std::move(content), REQUEST_LIMIT, "...");
    found = true;
    break;
  }
  const std::string count = std::to_string(messages.size());
  return make_record(found ? Json::array({request}) : Json::array(),
                     "Conversation had " + count + " messages before summarization",
                     "Conversation with " + count +
                         " messages. Primary request: " + (found ? request : "unknown"));
}

}  // namespace orvane::summarizer
