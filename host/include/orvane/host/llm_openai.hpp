#pragma once
// An LlmClient for servers that speak the OpenAI chat-completions protocol (llama.cpp, Ollama,
// vLLM and hosted services), over HTTP or HTTPS on the caller's event loop.
#include "orvane/host/asio_threads.hpp"  // first: see there

#include <boost/asio/awaitable.hpp>
#include <memory>
#include <stdexcept>
#include <string>

#include "orvane/host/llm.hpp"

namespace orvane::host {

// A failed model call: no connection, a time-out, a non-2xx status or a reply that is not a
// chat completion. The message says which, and where.
class LlmError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct OpenAiConfig {
  std::string base_url;            // "http://127.0.0.1:8080/v1"; "/chat/completions" is appended
  std::string model;               // empty: no "model" key (a local server uses the one it has)
  std::string api_key;             // empty: no Authorization header
  double timeout_seconds = 120.0;  // the whole request: connect, send, wait, read
  std::string ca_file;  // a PEM file of extra trusted certificates (a private CA); empty: none

  // ORVANE_LLM_URL (required), ORVANE_LLM_MODEL, ORVANE_LLM_API_KEY, ORVANE_LLM_TIMEOUT
  // (seconds) and ORVANE_LLM_CA_FILE. Throws LlmError naming the variable when one is missing or
  // invalid.
  static OpenAiConfig from_env();
};

class OpenAiClient final : public LlmClient {
 public:
  // Throws LlmError for a base URL that is not http:// or https:// with a host, or a CA file that
  // cannot be read.
  explicit OpenAiClient(OpenAiConfig config);
  ~OpenAiClient() override;

  // POST {base_url}/chat/completions; the reply is the first choice's message content. Runs on
  // the awaiting coroutine's executor; cancelling the awaiting task aborts the request with
  // boost::system::system_error(operation_aborted).
  boost::asio::awaitable<LlmResponse> complete(nlohmann::ordered_json messages, double temperature,
                                               int max_tokens) override;

  const OpenAiConfig& config() const { return _config; }

  struct Endpoint;

 private:
  OpenAiConfig _config;
  std::unique_ptr<Endpoint> _endpoint;
};

}  // namespace orvane::host
