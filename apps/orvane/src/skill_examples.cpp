#include "skill_examples.hpp"

namespace orvane::app {

const std::string_view SIMPLE_SKILL_EXAMPLE = R"({
  "name": "search_web",
  "description": "Search the web for a phrase in the browser",
  "app": "browser",
  "category": "browser",
  "triggers": ["search the web", "look up"],
  "required_params": ["query"],
  "optional_params": ["engine"],
  "steps": [
    {"operation": "open_url", "description": "Open the search page",
     "params": {"url": "https://{{engine}}/search?q={{query}}"}},
    {"operation": "wait_for_text", "description": "Wait for the results",
     "params": {"text": "{{query}}"}}
  ],
  "reason": "Searches come up often"
}
)";

const std::string_view SCRIPT_SKILL_EXAMPLE = R"({
  "type": "python",
  "name": "count_words",
  "description": "Count the words of a text",
  "app": "system",
  "category": "utility",
  "triggers": ["count words"],
  "required_params": ["text"],
  "code": "async def run(ctx, params):\n    words = params.get(\"text\", \"\").split()\n    return {\"success\": True, \"words\": len(words)}\n",
  "reason": "Word counts are asked for often"
}
)";

}  // namespace orvane::app
