#pragma once
// The parts of the model client that do not depend on the transport: the base URL, the request
// body and the reading of the reply.
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "orvane/host/llm_openai.hpp"

namespace orvane::host::llm {

// Keeps the deadline arithmetic inside the clocks' range for absurd settings.
constexpr double MAX_TIMEOUT_SECONDS = 30.0 * 24 * 3600;
// The largest reply body read, as Beast's response parser allows by default.
constexpr std::size_t BODY_LIMIT = 8 * 1024 * 1024;

struct BaseUrl {
  bool tls = false;
  std::string host;  // without the brackets of an IPv6 literal
  std::string port;  // always set: the scheme's default when the URL has none
  std::string host_header;
  std::string target;  // the request path, ".../chat/completions"
  std::string url;     // the full request URL, for messages
};

// Throws LlmError for a URL that is not http:// or https:// with a host and a valid port.
BaseUrl parse_base_url(const std::string& base_url);

// Throws LlmError unless the time-out is a positive finite number of seconds.
void check_timeout(double seconds);

// The chat-completions request body.
std::string request_body(const OpenAiConfig& config, nlohmann::ordered_json messages,
                         double temperature, int max_tokens);

// The reply to one request: the first choice's content, or LlmError naming what is wrong.
LlmResponse read_completion(unsigned status, std::string_view reason, const std::string& body,
                            const std::string& url);

}  // namespace orvane::host::llm
