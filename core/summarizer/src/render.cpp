#include <string>
#include <vector>

#include "orvane/summarizer/summarizer.hpp"
#include "text_form.hpp"

namespace orvane::summarizer {
namespace {

using Json = nlohmann::ordered_json;

bool has_content(const Json& value) {
  if (value.is_null()) return false;
  if (value.is_string()) return !value.get_ref<const std::string&>().empty();
  if (value.is_array() || value.is_object()) return !value.empty();
  return true;
}

// The value of `key` when it has something to show, else null.
const Json* section_value(const Json& summary, const char* key) {
  if (!summary.is_object() || !summary.contains(key)) return nullptr;
  const Json& value = summary[key];
  return has_content(value) ? &value : nullptr;
}

void add_list_section(const Json& summary, const char* key, const char* heading,
                      std::vector<std::string>& parts) {
  const Json* value = section_value(summary, key);
  if (value == nullptr) return;
  parts.emplace_back(heading);
  if (value->is_array()) {
    for (const Json& element : *value) parts.push_back("  - " + text_form(element));
  } else {
    // A single value where a list belongs (say, one goal given as text) is one bullet.
    parts.push_back("  - " + text_form(*value));
  }
  parts.emplace_back();
}

}  // namespace

std::string ConversationSummarizer::format_summary_for_context(
    const nlohmann::ordered_json& summary) {
  std::vector<std::string> parts = {"## Conversation History Summary",
                                    "*(Earlier messages were summarized to save context space)*\n"};
  add_list_section(summary, "goals", "### Original Goals", parts);
  add_list_section(summary, "progress", "### Progress So Far", parts);
  if (const Json* state = section_value(summary, "current_state")) {
    parts.push_back("### Current State\n" + text_form(*state) + "\n");
  }
  add_list_section(summary, "key_decisions", "### Key Decisions", parts);
  add_list_section(summary, "key_facts", "### Key Facts", parts);
  add_list_section(summary, "blockers", "### Issues & Resolutions", parts);
  add_list_section(summary, "next_steps", "### Next Steps", parts);
  if (const Json* narrative = section_value(summary, "summary")) {
    parts.push_back("### Narrative Summary\n" + text_form(*narrative));
  }
  std::string text;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) text += '\n';
    text += parts[i];
  }
  return text;
}

}  // namespace orvane::summarizer
