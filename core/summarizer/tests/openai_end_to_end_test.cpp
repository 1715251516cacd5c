// The summarizer against the host's real model client and an HTTP server on 127.0.0.1.
#include <gtest/gtest.h>

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/io_context.hpp>

#include "orvane/host/llm_openai.hpp"
#include "orvane/host/log.hpp"
#include "orvane/summarizer/summarizer.hpp"
#include "support/http_test_server.hpp"

namespace orvane::summarizer {
namespace {

namespace asio = boost::asio;
namespace http = boost::beast::http;

using host::testing::TestServer;
using Json = nlohmann::ordered_json;

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
  TestServer server(
      io, [&](const auto&) { return host::testing::reply(http::status::ok, completion.dump()); });
  host::LogCapture logs;

  const Json summary = summarize_through(io, server.base_url(), MESSAGES);

  EXPECT_EQ(summary["goals"], Json::array({"Back up ~/notes"}));
  EXPECT_EQ(summary["current_state"], "Copying");
  EXPECT_EQ(summary["summary"], "Backup started.");
  EXPECT_EQ(summary["progress"], Json::array());
  EXPECT_TRUE(summary["created_at"].is_number_float());
  EXPECT_TRUE(logs.records("orvane.summarizer").empty());
  ASSERT_EQ(server.requests.size(), 1u);
  const Json request = Json::parse(server.requests[0].body());
  EXPECT_EQ(request["model"], "local");
  EXPECT_EQ(request["temperature"], 0.2);
  EXPECT_EQ(request["max_tokens"], 2048);
  EXPECT_EQ(request["messages"][1]["content"],
            "Summarize the conversation above. Return ONLY the JSON object.");
}

TEST(SummarizeOverHttp, AServerErrorGivesTheFallbackRecordAndNamesTheStatus) {
  asio::io_context io;
  TestServer server(io, [](const auto&) {
    return host::testing::reply(http::status::service_unavailable, "loading model");
  });
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
