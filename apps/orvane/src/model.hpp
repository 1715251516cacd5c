#pragma once
// The language model the host talks to: an OpenAI-compatible server named by ORVANE_LLM_URL (a
// hosted service, or a local llama.cpp or Ollama server), or none.
#include <memory>

#include "orvane/host/llm.hpp"

namespace orvane::app {

// True when ORVANE_LLM_URL is set and not empty.
bool model_configured();

// The configured client, or one whose every call fails with "no model configured" when there is
// none. Throws Failure for a configuration that cannot be used (a bad URL, a bad time-out).
std::unique_ptr<host::LlmClient> make_model_client();

// One user message to the model; the reply text ("" when the model sent none).
boost::asio::awaitable<std::string> ask_model(host::LlmClient& client, std::string prompt);

}  // namespace orvane::app
