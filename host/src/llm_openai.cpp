#include "orvane/host/llm_openai.hpp"

#include <spdlog/fmt/fmt.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string_view>

#include "llm_openai_parts.hpp"
#include "orvane/common/json_read.hpp"
#include "orvane/common/unicode.hpp"

namespace orvane::host {
using Json = nlohmann::ordered_json;

namespace {

constexpr std::size_t EXCERPT_LIMIT = 200;

std::string env(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::string() : std::string(value);
}

// The start of a reply body, on one line, for an error message.
std::string excerpt(std::string_view body) {
  std::string text;
  if (common::is_valid_utf8(body)) {
    text = common::cut(body, EXCERPT_LIMIT);
    if (common::length(body) > EXCERPT_LIMIT) text += "...";
  } else {
    // Not UTF-8: show the printable ASCII of the first bytes only.
    for (char c : body.substr(0, EXCERPT_LIMIT)) {
      const auto byte = static_cast<unsigned char>(c);
      text += (byte >= 0x20 && byte < 0x7f) || c == '\n' ? c : '?';
    }
    if (body.size() > EXCERPT_LIMIT) text += "...";
  }
  std::replace(text.begin(), text.end(), '\n', ' ');
  std::replace(text.begin(), text.end(), '\r', ' ');
  return text.empty() ? "(empty body)" : text;
}

}  // namespace

namespace llm {

BaseUrl parse_base_url(const std::string& base_url) {
  BaseUrl out;
  std::string_view rest = base_url;
  if (rest.starts_with("http://")) {
    rest.remove_prefix(7);
  } else if (rest.starts_with("https://")) {
    out.tls = true;
    rest.remove_prefix(8);
  } else {
    throw LlmError("LLM base URL must start with http:// or https://: \"" + base_url + "\"");
  }
  const std::size_t path_start = std::min(rest.find('/'), rest.size());
  const std::string_view authority = rest.substr(0, path_start);
  std::string_view path = rest.substr(path_start);
  while (path.ends_with('/')) path.remove_suffix(1);
  if (authority.find('@') != std::string_view::npos || path.find_first_of("?#") != path.npos) {
    throw LlmError("LLM base URL must be scheme://host[:port][/path]: \"" + base_url + "\"");
  }

  std::string_view port_text;
  if (authority.starts_with('[')) {
    const std::size_t close = authority.find(']');
    if (close == std::string_view::npos)
      throw LlmError("LLM base URL has an unclosed [: \"" + base_url + "\"");
    out.host = authority.substr(1, close - 1);
    const std::string_view after = authority.substr(close + 1);
    if (!after.empty() && !after.starts_with(':')) {
      throw LlmError("LLM base URL has text after the host: \"" + base_url + "\"");
    }
    if (!after.empty()) port_text = after.substr(1);
  } else {
    const std::size_t colon = authority.rfind(':');
    out.host = authority.substr(0, colon);
    if (colon != std::string_view::npos) port_text = authority.substr(colon + 1);
  }
  if (out.host.empty()) throw LlmError("LLM base URL has no host: \"" + base_url + "\"");
  unsigned port_number = 0;
  if (!port_text.empty()) {
    const auto [end, error] =
        std::from_chars(port_text.data(), port_text.data() + port_text.size(), port_number);
    if (error != std::errc() || end != port_text.data() + port_text.size() || port_number == 0 ||
        port_number > 65535) {
      throw LlmError("LLM base URL has an invalid port: \"" + base_url + "\"");
    }
  }
  out.port = port_text.empty() ? (out.tls ? "443" : "80") : std::string(port_text);
  out.host_header = std::string(authority);
  out.target = std::string(path) + "/chat/completions";
  out.url = (out.tls ? "https://" : "http://") + out.host_header + out.target;
  return out;
}

void check_timeout(double seconds) {
  if (!(seconds > 0) || !std::isfinite(seconds)) {
    throw LlmError(
        fmt::format("LLM time-out must be a positive number of seconds, not {}", seconds));
  }
}

std::string request_body(const OpenAiConfig& config, Json messages, double temperature,
                         int max_tokens) {
  Json payload = Json::object();
  if (!config.model.empty()) payload["model"] = config.model;
  payload["messages"] = std::move(messages);
  payload["temperature"] = temperature;
  payload["max_tokens"] = max_tokens;
  return payload.dump(-1, ' ', false, Json::error_handler_t::replace);
}

LlmResponse read_completion(unsigned status, std::string_view reason, const std::string& body_text,
                            const std::string& url) {
  if (status < 200 || status >= 300) {
    throw LlmError(fmt::format("LLM server at {} answered {} {}: {}", url, status,
                               std::string(reason), excerpt(body_text)));
  }
  Json body;
  try {
    // Deeper replies are refused: writing a value out for an error message (and any later copy)
    // recurses once per level.
    body = common::parse_json(body_text, common::OnInvalid::Discard);
  } catch (const common::JsonTooDeep&) {
    throw LlmError(fmt::format("LLM server at {} sent a reply nested more than {} levels deep: {}",
                               url, common::MAX_JSON_DEPTH, excerpt(body_text)));
  }
  if (body.is_discarded()) {
    throw LlmError(
        fmt::format("LLM server at {} sent a reply that is not JSON: {}", url, excerpt(body_text)));
  }
  const Json* message = nullptr;
  if (body.is_object() && body.contains("choices") && body["choices"].is_array() &&
      !body["choices"].empty() && body["choices"][0].is_object() &&
      body["choices"][0].contains("message") && body["choices"][0]["message"].is_object()) {
    message = &body["choices"][0]["message"];
  }
  if (message == nullptr) {
    throw LlmError(fmt::format("LLM server at {} sent a reply without choices[0].message: {}", url,
                               excerpt(body_text)));
  }
  if (!message->contains("content") || (*message)["content"].is_null()) return LlmResponse{};
  const Json& content = (*message)["content"];
  if (!content.is_string()) {
    throw LlmError(fmt::format("LLM server at {} sent a message content that is not text: {}", url,
                               excerpt(content.dump())));
  }
  return LlmResponse{content.get<std::string>()};
}

}  // namespace llm

OpenAiConfig OpenAiConfig::from_env() {
  OpenAiConfig config;
  config.base_url = env("ORVANE_LLM_URL");
  if (config.base_url.empty()) {
    throw LlmError(
        "ORVANE_LLM_URL is not set: give the base URL of an OpenAI-compatible server, such as "
        "http://127.0.0.1:8080/v1");
  }
  config.model = env("ORVANE_LLM_MODEL");
  config.api_key = env("ORVANE_LLM_API_KEY");
  config.ca_file = env("ORVANE_LLM_CA_FILE");
  if (const std::string timeout = env("ORVANE_LLM_TIMEOUT"); !timeout.empty()) {
    double seconds = 0;
    const auto [end, error] =
        std::from_chars(timeout.data(), timeout.data() + timeout.size(), seconds);
    if (error != std::errc() || end != timeout.data() + timeout.size() || !(seconds > 0) ||
        !std::isfinite(seconds)) {
      throw LlmError("ORVANE_LLM_TIMEOUT must be a positive number of seconds, not \"" + timeout +
                     "\"");
    }
    config.timeout_seconds = seconds;
  }
  return config;
}

}  // namespace orvane::host
