#pragma once
// A small HTTP server on 127.0.0.1 for tests of the model client and of what is built on it.
#include <boost/asio/as_tuple.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace orvane::host::testing {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using Request = http::request<http::string_body>;
using Response = http::response<http::string_body>;

inline Response reply(http::status status, std::string body) {
  Response response{status, 11};
  response.set(http::field::content_type, "application/json");
  response.body() = std::move(body);
  response.prepare_payload();
  return response;
}

// An HTTP server on 127.0.0.1 that answers each request with the handler's response, or holds
// the connection open without answering when the handler gives none.
class TestServer {
 public:
  using Handler = std::function<std::optional<Response>(const Request&)>;

  TestServer(asio::io_context& io, Handler handler)
      : _acceptor(io, {asio::ip::make_address("127.0.0.1"), 0}), _handler(std::move(handler)) {
    asio::co_spawn(io, serve(), asio::detached);
  }

  std::string base_url() const {
    return "http://127.0.0.1:" + std::to_string(_acceptor.local_endpoint().port()) + "/v1";
  }
  std::vector<Request> requests;

 private:
  asio::awaitable<void> serve() {
    constexpr auto as_result = asio::as_tuple(asio::use_awaitable);
    while (true) {
      auto [error, socket] = co_await _acceptor.async_accept(as_result);
      if (error) co_return;
      beast::tcp_stream stream(std::move(socket));
      beast::flat_buffer buffer;
      Request request;
      if (auto [read_error, n] = co_await http::async_read(stream, buffer, request, as_result);
          read_error) {
        continue;
      }
      requests.push_back(request);
      std::optional<Response> response = _handler(request);
      if (!response) {
        _held.push_back(std::move(stream));
        continue;
      }
      co_await http::async_write(stream, *response, as_result);
      boost::system::error_code ignored;
      stream.socket().shutdown(tcp::socket::shutdown_both, ignored);
    }
  }

  tcp::acceptor _acceptor;
  Handler _handler;
  std::vector<beast::tcp_stream> _held;
};

}  // namespace orvane::host::testing
