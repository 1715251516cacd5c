#include "orvane/host/llm_openai.hpp"

#include <openssl/ssl.h>
#include <spdlog/fmt/fmt.h>

#include <algorithm>
#include <boost/asio/as_tuple.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>
#include <boost/system/system_error.hpp>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <string_view>

#include "orvane/common/json_read.hpp"
#include "orvane/common/unicode.hpp"

namespace orvane::host {
namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using Json = nlohmann::ordered_json;

namespace {

constexpr auto as_result = asio::as_tuple(asio::use_awaitable);
constexpr std::size_t EXCERPT_LIMIT = 200;
// Keeps the deadline arithmetic inside steady_clock's range for absurd settings.
constexpr double MAX_TIMEOUT_SECONDS = 30.0 * 24 * 3600;

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

struct OpenAiClient::Endpoint {
  bool tls = false;
  std::string host;  // as resolved and verified: without the brackets of an IPv6 literal
  std::string port;
  std::string host_header;
  std::string target;  // the request path
  std::string url;     // the full request URL, for messages
  asio::ssl::context ssl{asio::ssl::context::tls_client};

  Endpoint(const std::string& base_url, const std::string& ca_file) {
    std::string_view rest = base_url;
    if (rest.starts_with("http://")) {
      rest.remove_prefix(7);
    } else if (rest.starts_with("https://")) {
      tls = true;
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
      host = authority.substr(1, close - 1);
      const std::string_view after = authority.substr(close + 1);
      if (!after.empty() && !after.starts_with(':')) {
        throw LlmError("LLM base URL has text after the host: \"" + base_url + "\"");
      }
      if (!after.empty()) port_text = after.substr(1);
    } else {
      const std::size_t colon = authority.rfind(':');
      host = authority.substr(0, colon);
      if (colon != std::string_view::npos) port_text = authority.substr(colon + 1);
    }
    if (host.empty()) throw LlmError("LLM base URL has no host: \"" + base_url + "\"");
    unsigned port_number = 0;
    if (!port_text.empty()) {
      const auto [end, error] =
          std::from_chars(port_text.data(), port_text.data() + port_text.size(), port_number);
      if (error != std::errc() || end != port_text.data() + port_text.size() || port_number == 0 ||
          port_number > 65535) {
        throw LlmError("LLM base URL has an invalid port: \"" + base_url + "\"");
      }
    }
    port = port_text.empty() ? (tls ? "443" : "80") : std::string(port_text);
    host_header = std::string(authority);
    target = std::string(path) + "/chat/completions";
    url = (tls ? "https://" : "http://") + host_header + target;

    if (tls) {
      boost::system::error_code ignored;  // without system roots every handshake fails, clearly
      ssl.set_default_verify_paths(ignored);
      ssl.set_verify_mode(asio::ssl::verify_peer);
      if (!ca_file.empty()) {
        boost::system::error_code error;
        ssl.load_verify_file(ca_file, error);
        if (error) {
          throw LlmError("cannot load the LLM CA file \"" + ca_file + "\": " + error.message());
        }
      }
    }
  }
};

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

OpenAiClient::OpenAiClient(OpenAiConfig config)
    : _config(std::move(config)),
      _endpoint(std::make_unique<Endpoint>(_config.base_url, _config.ca_file)) {
  if (!(_config.timeout_seconds > 0) || !std::isfinite(_config.timeout_seconds)) {
    throw LlmError(fmt::format("LLM time-out must be a positive number of seconds, not {}",
                               _config.timeout_seconds));
  }
}

OpenAiClient::~OpenAiClient() = default;

namespace {

// Turns a failed step into the error the caller sees; cancellation stays cancellation.
[[noreturn]] void fail(const std::string& url, double timeout, std::string_view step,
                       const boost::system::error_code& error) {
  if (error == asio::error::operation_aborted) throw boost::system::system_error(error);
  if (error == beast::error::timeout) {
    throw LlmError(
        fmt::format("LLM request to {} timed out after {:g} s while {}", url, timeout, step));
  }
  throw LlmError(fmt::format("LLM request to {} failed while {}: {}", url, step, error.message()));
}

template <class Stream>
asio::awaitable<http::response<http::string_body>> exchange(
    Stream& stream, const http::request<http::string_body>& request, const std::string& url,
    double timeout) {
  if (auto [error, sent] = co_await http::async_write(stream, request, as_result); error) {
    fail(url, timeout, "sending the request", error);
  }
  beast::flat_buffer buffer;
  http::response<http::string_body> response;
  if (auto [error, read] = co_await http::async_read(stream, buffer, response, as_result); error) {
    fail(url, timeout, "reading the reply", error);
  }
  co_return response;
}

LlmResponse read_completion(const http::response<http::string_body>& response,
                            const std::string& url) {
  const unsigned status = response.result_int();
  if (status < 200 || status >= 300) {
    throw LlmError(fmt::format("LLM server at {} answered {} {}: {}", url, status,
                               std::string(response.reason()), excerpt(response.body())));
  }
  Json body;
  try {
    // Deeper replies are refused: writing a value out for an error message (and any later copy)
    // recurses once per level.
    body = common::parse_json(response.body(), common::OnInvalid::Discard);
  } catch (const common::JsonTooDeep&) {
    throw LlmError(fmt::format("LLM server at {} sent a reply nested more than {} levels deep: {}",
                               url, common::MAX_JSON_DEPTH, excerpt(response.body())));
  }
  if (body.is_discarded()) {
    throw LlmError(fmt::format("LLM server at {} sent a reply that is not JSON: {}", url,
                               excerpt(response.body())));
  }
  const Json* message = nullptr;
  if (body.is_object() && body.contains("choices") && body["choices"].is_array() &&
      !body["choices"].empty() && body["choices"][0].is_object() &&
      body["choices"][0].contains("message") && body["choices"][0]["message"].is_object()) {
    message = &body["choices"][0]["message"];
  }
  if (message == nullptr) {
    throw LlmError(fmt::format("LLM server at {} sent a reply without choices[0].message: {}", url,
                               excerpt(response.body())));
  }
  if (!message->contains("content") || (*message)["content"].is_null()) return LlmResponse{};
  const Json& content = (*message)["content"];
  if (!content.is_string()) {
    throw LlmError(fmt::format("LLM server at {} sent a message content that is not text: {}", url,
                               excerpt(content.dump())));
  }
  return LlmResponse{content.get<std::string>()};
}

}  // namespace

asio::awaitable<LlmResponse> OpenAiClient::complete(nlohmann::ordered_json messages,
                                                    double temperature, int max_tokens) {
  const Endpoint& endpoint = *_endpoint;
  const double timeout = _config.timeout_seconds;
  const auto deadline = std::chrono::steady_clock::now() +
                        std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                            std::chrono::duration<double>(std::min(timeout, MAX_TIMEOUT_SECONDS)));

  Json payload = Json::object();
  if (!_config.model.empty()) payload["model"] = _config.model;
  payload["messages"] = std::move(messages);
  payload["temperature"] = temperature;
  payload["max_tokens"] = max_tokens;

  http::request<http::string_body> request{http::verb::post, endpoint.target, 11};
  request.set(http::field::host, endpoint.host_header);
  request.set(http::field::user_agent, "orvane");
  request.set(http::field::content_type, "application/json");
  request.set(http::field::accept, "application/json");
  if (!_config.api_key.empty())
    request.set(http::field::authorization, "Bearer " + _config.api_key);
  request.keep_alive(false);
  request.body() = payload.dump(-1, ' ', false, Json::error_handler_t::replace);
  request.prepare_payload();

  const auto executor = co_await asio::this_coro::executor;
  tcp::resolver resolver(executor);
  auto [resolve_error, addresses] =
      co_await resolver.async_resolve(endpoint.host, endpoint.port, as_result);
  if (resolve_error) fail(endpoint.url, timeout, "resolving " + endpoint.host, resolve_error);

  beast::tcp_stream tcp_stream(executor);
  tcp_stream.expires_at(deadline);  // one deadline for every step that follows
  if (auto [error, peer] = co_await tcp_stream.async_connect(addresses, as_result); error) {
    fail(endpoint.url, timeout, "connecting", error);
  }

  http::response<http::string_body> response;
  if (!endpoint.tls) {
    response = co_await exchange(tcp_stream, request, endpoint.url, timeout);
    boost::system::error_code ignored;
    tcp_stream.socket().shutdown(tcp::socket::shutdown_both, ignored);
  } else {
    beast::ssl_stream<beast::tcp_stream> tls_stream(std::move(tcp_stream), _endpoint->ssl);
    boost::system::error_code not_an_address;
    asio::ip::make_address(endpoint.host, not_an_address);
    // Server name indication carries host names only, never address literals.
    if (not_an_address &&
        !SSL_set_tlsext_host_name(tls_stream.native_handle(), endpoint.host.c_str())) {
      throw LlmError("LLM request to " + endpoint.url + " failed: cannot set the TLS server name");
    }
    tls_stream.set_verify_callback(asio::ssl::host_name_verification(endpoint.host));
    if (auto [error] =
            co_await tls_stream.async_handshake(asio::ssl::stream_base::client, as_result);
        error) {
      fail(endpoint.url, timeout, "performing the TLS handshake", error);
    }
    response = co_await exchange(tls_stream, request, endpoint.url, timeout);
    // The whole reply is in and the connection is not reused: no close_notify round trip.
  }
  co_return read_completion(response, endpoint.url);
}

}  // namespace orvane::host
