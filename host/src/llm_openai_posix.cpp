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
#include <chrono>
#include <string_view>

#include "llm_openai_parts.hpp"

namespace orvane::host {
namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;

namespace {

constexpr auto as_result = asio::as_tuple(asio::use_awaitable);

}  // namespace

struct OpenAiClient::Endpoint {
  llm::BaseUrl base;
  asio::ssl::context ssl{asio::ssl::context::tls_client};

  Endpoint(const std::string& base_url, const std::string& ca_file)
      : base(llm::parse_base_url(base_url)) {
    if (base.tls) {
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

OpenAiClient::OpenAiClient(OpenAiConfig config)
    : _config(std::move(config)),
      _endpoint(std::make_unique<Endpoint>(_config.base_url, _config.ca_file)) {
  llm::check_timeout(_config.timeout_seconds);
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

}  // namespace

asio::awaitable<LlmResponse> OpenAiClient::complete(nlohmann::ordered_json messages,
                                                    double temperature, int max_tokens) {
  const llm::BaseUrl& endpoint = _endpoint->base;
  const double timeout = _config.timeout_seconds;
  const auto deadline =
      std::chrono::steady_clock::now() +
      std::chrono::duration_cast<std::chrono::steady_clock::duration>(
          std::chrono::duration<double>(std::min(timeout, llm::MAX_TIMEOUT_SECONDS)));

  http::request<http::string_body> request{http::verb::post, endpoint.target, 11};
  request.set(http::field::host, endpoint.host_header);
  request.set(http::field::user_agent, "orvane");
  request.set(http::field::content_type, "application/json");
  request.set(http::field::accept, "application/json");
  if (!_config.api_key.empty())
    request.set(http::field::authorization, "Bearer " + _config.api_key);
  request.keep_alive(false);
  request.body() = llm::request_body(_config, std::move(messages), temperature, max_tokens);
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
  co_return llm::read_completion(response.result_int(), response.reason(), response.body(),
                                 endpoint.url);
}

}  // namespace orvane::host
