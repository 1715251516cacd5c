// The summarizer against the host's real model client and an HTTP server on 127.0.0.1.
#include <gtest/gtest.h>

#include <boost/asio/as_tuple.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include "orvane/host/llm_openai.hpp"
#include "orvane/host/log.hpp"
#include "orvane/summarizer/summarizer.hpp"

namespace orvane::summarizer {
namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using Json = nlohmann::ordered_json;

constexpr auto as_result = asio::as_tuple(asio::use_awaitable);

// Answers every request with one fixed status and body, and keeps the request bodies.
class OneReplyServer {
 public:
  OneReplyServer(asio::io_context& io, http::status status, std::string body)
      : _acceptor(io, {asio::ip::make_address("127.0.0.1"), 0}),
        _status(status),
        _body(std::move(body)) {
    asio::co_spawn(io, serve(), asio::detached);
  }
  std::string base_url() const {
    return "http://127.0.0.1:" + std::to_string(_acceptor.local_endpoint().port()) + "/v1";
  }
  std::vector<Json> requests;

 private:
  asio::awaitable<void> serve() {
    while (true) {
      auto [error, socket] = co_await _acceptor.async_accept(as_result);
      if (error) co_return;
      beast::tcp_stream stream(std::move(socket));
      beast::flat_buffer buffer;
      http::request<http::string_body> request;
      if (auto [read_error, n] = co_await http::async_read(stream, buffer, request, as_result);
          read_error) {
        continue;
      }
      requests.push_back(Json::parse(request.body()));
      http::response<http::string_body> response{_status, 11};
      response.set(http::field::content_type, "application/json");
      response.body() = _body;
      response.prepare_payload();
      co_await http::async_write(stream, response, as_result);
    }
  }

  tcp::acceptor _acceptor;
  http::status _status;
  std::string _body;
};

Json summarize_through(asio::io_context& io, const std::string& base_url, const Json& messages) {
  host::OpenAiClient client(host::OpenAiConfig{base_url, "local", "", 5.0});
  ConversationSummarizer summarizer(client);
  std::optional<Json> result;
  std::exception_ptr failure;
  asio::co_spawn(io, summarizer.summarize_messages(messages),
                 [&](std::exception_ptr error, Json value) {
                   failure = error;
                   result = std::move(value);
                   io.stop();
                 });
  io.run();
  if (failure) std::rethrow_exception(failure);
  return *result;
}

const Json MESSAGES = Json::parse(R"([
  {"role": "user", "content": "Back up ~/notes to the NAS."},
  {"role": "assistant", "content": "Copying now."}
])");

TEST(SummarizeOverHttp, TurnsAGoodReplyIntoTheRecord) {
  const Json reply = {
      {"goals", {"Back up ~/notes"}}, {"current_state", "Copying"}, {"summary", "Backup started."}};
  const Json completion = {
      {"choices",
       {{{"message",
          {{"role", "assistant"}, {"content", "```json\n" + reply.dump(2) + "\n```"}}}}}}};
  asio::io_context io;
  OneReplyServer server(io, http::status::ok, completion.dump());
  host::LogCapture logs;

  const Json summary = summarize_through(io, server.base_url(), MESSAGES);

  EXPECT_EQ(summary["goals"], Json::array({"Back up ~/notes"}));
  EXPECT_EQ(summary["current_state"], "Copying");
  EXPECT_EQ(summary["summary"], "Backup started.");
  EXPECT_EQ(summary["progress"], Json::array());
  EXPECT_TRUE(summary["created_at"].is_number_float());
  EXPECT_TRUE(logs.records("orvane.summarizer").empty());
  ASSERT_EQ(server.requests.size(), 1u);
  EXPECT_EQ(server.requests[0]["model"], "local");
  EXPECT_EQ(server.requests[0]["temperature"], 0.2);
  EXPECT_EQ(server.requests[0]["max_tokens"], 2048);
  EXPECT_EQ(server.requests[0]["messages"][1]["content"],
            "Summarize the conversation above. Return ONLY the JSON object.");
}

TEST(SummarizeOverHttp, AServerErrorGivesTheFallbackRecordAndNamesTheStatus) {
  asio::io_context io;
  OneReplyServer server(io, http::status::service_unavailable, "loading model");
  host::LogCapture logs;

  const Json summary = summarize_through(io, server.base_url(), MESSAGES);

  EXPECT_EQ(summary["goals"], Json::array({"Back up ~/notes to the NAS."}));
  EXPECT_EQ(summary["current_state"], "Conversation had 2 messages before summarization");
  EXPECT_TRUE(logs.contains(
      spdlog::level::err, "Summarization failed: LLM server at " + server.base_url() +
                              "/chat/completions answered 503 Service Unavailable: loading model"));
}

}  // namespace
}  // namespace orvane::summarizer
