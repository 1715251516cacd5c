#include <gtest/gtest.h>

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/io_context.hpp>
#include <functional>
#include <memory>
#include <stdexcept>
#include <vector>

#include "orvane/host/clock.hpp"
#include "orvane/host/log.hpp"
#include "orvane/host/loop.hpp"
#include "orvane/summarizer/summarizer.hpp"
#include "summary_record.hpp"
#include "transcript.hpp"

namespace orvane::summarizer {
namespace {

namespace asio = boost::asio;
using Json = nlohmann::ordered_json;

constexpr double NOW = 1765000000.5;
const std::string USER_REQUEST = "Summarize the conversation above. Return ONLY the JSON object.";

// Answers every call with `answer()` (which may throw); with `hang` set, waits an hour first.
class FakeClient final : public host::LlmClient {
 public:
  std::function<host::LlmResponse()> answer = [] { return host::LlmResponse{"{}"}; };
  bool hang = false;
  struct Call {
    Json messages;
    double temperature;
    int max_tokens;
  };
  std::vector<Call> calls;

  asio::awaitable<host::LlmResponse> complete(Json messages, double temperature,
                                              int max_tokens) override {
    calls.push_back({std::move(messages), temperature, max_tokens});
    if (hang) co_await host::sleep(3600);
    co_return answer();
  }
};

class Summarize : public ::testing::Test {
 protected:
  void SetUp() override { host::set_clock(std::make_shared<host::VirtualClock>(NOW)); }
  void TearDown() override { host::set_clock(nullptr); }

  Json summarize(Json messages, std::optional<std::string> existing = std::nullopt) {
    asio::io_context io;
    std::optional<Json> result;
    std::exception_ptr failure;
    asio::co_spawn(io, summarizer.summarize_messages(std::move(messages), std::move(existing)),
                   [&](std::exception_ptr error, Json value) {
                     failure = error;
                     result = std::move(value);
                   });
    io.run();
    if (failure) std::rethrow_exception(failure);
    return *result;
  }

  std::vector<host::LogRecord> records() const { return logs.records("orvane.summarizer"); }

  FakeClient client;
  ConversationSummarizer summarizer{client};
  host::LogCapture logs;
  const Json messages = Json::parse(R"([
    {"role": "system", "content": "You are Orvane."},
    {"role": "user", "content": "Rename my photos by date."},
    {"role": "assistant", "content": "Listing them.", "tool_calls": [
      {"function": {"name": "shell", "arguments": "{\"cmd\": \"ls ~/Pictures\"}"}}]},
    {"role": "tool", "tool_call_id": "t1", "content": "a.jpg\nb.jpg"}
  ])");
  const std::string transcript =
      "[User]: Rename my photos by date.\n"
      "[Assistant]: Listing them.\n"
      "[Assistant called shell]: cmd=ls ~/Pictures\n"
      "[Tool Result (t1)]: a.jpg\nb.jpg";
};

TEST_F(Summarize, EmptyConversationGivesTheEmptyRecordWithoutAskingTheModel) {
  EXPECT_EQ(summarize(Json::array(), "earlier"), _empty_summary());
  EXPECT_TRUE(client.calls.empty());
  EXPECT_TRUE(records().empty());
}

TEST_F(Summarize, SendsTheTranscriptBelowThePromptWithFixedSettings) {
  summarize(messages);
  summarize(messages, "");
  ASSERT_EQ(client.calls.size(), 2u);
  const Json expected = {{{"role", "system"},
                          {"content", std::string(SUMMARIZE_PROMPT) +
                                          "\n\n\n## Conversation to Summarize:\n" + transcript}},
                         {{"role", "user"}, {"content", USER_REQUEST}}};
  for (const auto& call : client.calls) {
    EXPECT_EQ(call.messages.dump(), expected.dump());
    EXPECT_EQ(call.temperature, 0.2);
    EXPECT_EQ(call.max_tokens, 2048);
  }
}

TEST_F(Summarize, PutsThePreviousSummaryBeforeTheTranscript) {
  summarize(messages, "Goal: rename photos.");
  ASSERT_EQ(client.calls.size(), 1u);
  EXPECT_EQ(client.calls[0].messages[0]["content"],
            std::string(SUMMARIZE_PROMPT) +
                "\n\n\n## Previous Summary (build on this):\nGoal: rename photos."
                "\n\n\n## Conversation to Summarize:\n" +
                transcript);
  EXPECT_EQ(client.calls[0].messages[1]["content"], USER_REQUEST);
}

TEST_F(Summarize, ReturnsTheRecordParsedFromTheReply) {
  client.answer = [] {
    return host::LlmResponse{"```json\n{\"goals\": [\"Rename photos\"], \"summary\": \"ok\"}\n```"};
  };
  Json expected = _empty_summary();
  expected["goals"] = {"Rename photos"};
  expected["summary"] = "ok";
  EXPECT_EQ(summarize(messages), expected);
  EXPECT_TRUE(records().empty());
}

TEST_F(Summarize, FallsBackAndLogsWhenTheClientFails) {
  client.answer = []() -> host::LlmResponse { throw std::runtime_error("connection reset"); };
  EXPECT_EQ(summarize(messages), _fallback_summary(messages));
  ASSERT_EQ(records().size(), 1u);
  EXPECT_EQ(records()[0].level, spdlog::level::err);
  EXPECT_EQ(records()[0].message, "Summarization failed: connection reset");
}

TEST_F(Summarize, FallsBackEvenWhenTheRequestHoldsBytesThatAreNotUtf8) {
  client.answer = []() -> host::LlmResponse { throw std::runtime_error("down"); };
  const Json raw = Json::array({{{"role", "user"}, {"content", "fix \xff"}}});
  EXPECT_EQ(summarize(raw)["goals"], Json::array({"fix \uFFFD"}));
  client.answer = [] { return host::LlmResponse{"not json \xff"}; };
  EXPECT_EQ(summarize(raw)["summary"], "not json \uFFFD");
}

TEST_F(Summarize, FallsBackAndWarnsOnAnEmptyReply) {
  for (const auto& content : {std::optional<std::string>(), std::optional<std::string>("")}) {
    logs.clear();
    client.answer = [content] { return host::LlmResponse{content}; };
    EXPECT_EQ(summarize(messages), _fallback_summary(messages));
    ASSERT_EQ(records().size(), 1u);
    EXPECT_EQ(records()[0].level, spdlog::level::warn);
    EXPECT_EQ(records()[0].message, "Empty response from summarizer LLM");
  }
}

TEST_F(Summarize, KeepsAReplyThatIsNotJsonAsTheNarrative) {
  client.answer = [] { return host::LlmResponse{"  I could not do it.  "}; };
  Json expected = _empty_summary();
  expected["summary"] = "I could not do it.";
  EXPECT_EQ(summarize(messages), expected);
  ASSERT_EQ(records().size(), 1u);
  EXPECT_EQ(records()[0].level, spdlog::level::warn);
  EXPECT_EQ(records()[0].message, "Could not parse summary JSON, using fallback");
}

TEST_F(Summarize, FallsBackAndLogsWhenTheReplyIsJsonButNoObject) {
  client.answer = [] { return host::LlmResponse{"[\"goal\"]"}; };
  EXPECT_EQ(summarize(messages), _fallback_summary(messages));
  ASSERT_EQ(records().size(), 1u);
  EXPECT_EQ(records()[0].level, spdlog::level::err);
  EXPECT_EQ(records()[0].message,
            "Summarization failed: the summary reply is a JSON array, not an object");
}

TEST_F(Summarize, FallsBackAndLogsWhenTheReplyNestsTooDeepToRead) {
  client.answer = [] {
    return host::LlmResponse{"{\"goals\": " + std::string(100000, '[') + std::string(100000, ']') +
                             "}"};
  };
  EXPECT_EQ(summarize(messages), _fallback_summary(messages));
  ASSERT_EQ(records().size(), 1u);
  EXPECT_EQ(records()[0].level, spdlog::level::err);
  EXPECT_EQ(records()[0].message, "Summarization failed: JSON nested more than 512 levels deep");
}

TEST_F(Summarize, MalformedMessagesReachTheCallerWithoutAModelCall) {
  EXPECT_THROW(summarize(Json::array({"not a message"})), MessageFormatError);
  EXPECT_TRUE(client.calls.empty());
  EXPECT_TRUE(records().empty());
}

asio::awaitable<void> summarize_into(ConversationSummarizer& summarizer, Json messages,
                                     std::optional<Json>& result) {
  result = co_await summarizer.summarize_messages(std::move(messages));
}

TEST_F(Summarize, CancellationWhileTheModelIsAskedReachesTheCaller) {
  host::set_clock(nullptr);  // the fake's hour-long wait needs a real timer to cancel
  client.hang = true;
  asio::io_context io;
  std::optional<Json> result;
  host::TaskPtr task =
      host::spawn(io.get_executor(), "summarize", summarize_into(summarizer, messages, result));
  io.poll();
  ASSERT_EQ(client.calls.size(), 1u);
  ASSERT_FALSE(task->done());

  task->cancel();
  io.run();

  EXPECT_TRUE(task->cancelled());
  EXPECT_FALSE(result.has_value());
  EXPECT_TRUE(records().empty());
}

}  // namespace
}  // namespace orvane::summarizer
