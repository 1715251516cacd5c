#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/io_context.hpp>
#include <optional>

#include "orvane/host/llm_openai.hpp"
#include "orvane/host/loop.hpp"
#include "support/http_test_server.hpp"

namespace orvane::host {
namespace {

namespace asio = boost::asio;
using Json = nlohmann::ordered_json;
using testing::reply;
using testing::Request;
using testing::TestServer;
namespace http = testing::http;

// The client and the test server share one loop: a client that blocked it would never be answered.
LlmResponse run(asio::io_context& io, OpenAiClient& client) {
  std::optional<LlmResponse> result;
  std::exception_ptr failure;
  const Json chat = Json::array({{{"role", "user"}, {"content", "Größe?"}}});
  asio::co_spawn(io, client.complete(chat, 0.2, 50), [&](std::exception_ptr e, LlmResponse r) {
    failure = e;
    result = std::move(r);
    io.stop();
  });
  io.restart();
  io.run();
  if (failure) std::rethrow_exception(failure);
  return result.value();
}

std::string error_of(asio::io_context& io, OpenAiClient& client) {
  try {
    run(io, client);
  } catch (const LlmError& e) {
    return e.what();
  }
  return "no error";
}

TEST(WindowsLlm, PostsOverWinHttpAndReadsTheReply) {
  asio::io_context io;
  const Json answer = {{"choices", {{{"message", {{"role", "assistant"}, {"content", "groß"}}}}}}};
  TestServer server(io, [&](const Request&) { return reply(http::status::ok, answer.dump()); });
  OpenAiClient client({server.base_url(), "m", "k-1", 5.0});
  EXPECT_EQ(run(io, client).content, "groß");
  ASSERT_EQ(server.requests.size(), 1u);
  const Request& sent = server.requests[0];
  EXPECT_EQ(sent.target(), "/v1/chat/completions");
  EXPECT_EQ(sent[http::field::authorization], "Bearer k-1");
  EXPECT_EQ(Json::parse(sent.body())["messages"][0]["content"], "Größe?");
}

TEST(WindowsLlm, ReportsStatusTimeOutAndRefusedSettings) {
  asio::io_context io;
  TestServer failing(io, [](const Request&) { return reply(http::status::bad_gateway, "down"); });
  OpenAiClient status_client({failing.base_url(), "", "", 5.0});
  EXPECT_EQ(error_of(io, status_client), "LLM server at " + failing.base_url() +
                                             "/chat/completions answered 502 Bad Gateway: down");

  TestServer silent(io, [](const Request&) { return std::nullopt; });
  OpenAiClient slow_client({silent.base_url(), "", "", 0.5});
  const auto start = std::chrono::steady_clock::now();
  // Which WinHTTP call is pending at the deadline is the implementation's business (Wine's
  // WinHttpSendRequest waits for the reply).
  EXPECT_THAT(error_of(io, slow_client),
              ::testing::StartsWith("LLM request to " + silent.base_url() +
                                    "/chat/completions timed out after 0.5 s while "));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));

  OpenAiConfig with_ca{"https://llm.example.org/v1"};
  with_ca.ca_file = "C:\\ca.pem";
  EXPECT_THROW(OpenAiClient{with_ca}, LlmError);
}

}  // namespace
}  // namespace orvane::host
