#include "summary_record.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <string>

#include "orvane/common/unicode.hpp"
#include "orvane/host/clock.hpp"
#include "orvane/host/log.hpp"

namespace orvane::summarizer {
namespace {

using Json = nlohmann::ordered_json;

constexpr double NOW = 1765000000.125;
const char* const PARSE_WARNING = "Could not parse summary JSON, using fallback";

Json record(Json goals, Json current_state, Json summary) {
  return {{"goals", std::move(goals)},
          {"progress", Json::array()},
          {"current_state", current_state},
          {"key_decisions", Json::array()},
          {"key_facts", Json::array()},
          {"blockers", Json::array()},
          {"next_steps", Json::array()},
          {"summary", std::move(summary)},
          {"created_at", NOW}};
}

Json parse_failure(const std::string& summary) {
  return record(Json::array(), "", summary);
}

class SummaryRecord : public ::testing::Test {
 protected:
  void SetUp() override { host::set_clock(std::make_shared<host::VirtualClock>(NOW)); }
  void TearDown() override { host::set_clock(nullptr); }
  host::LogCapture logs;
};

TEST(SummarizePrompt, Has28LinesAnd1476Characters) {
  EXPECT_EQ(SUMMARIZE_PROMPT.size(), 1476u);
  EXPECT_EQ(std::count(SUMMARIZE_PROMPT.begin(), SUMMARIZE_PROMPT.end(), '\n'), 28);
  EXPECT_TRUE(SUMMARIZE_PROMPT.starts_with(
      "You are a conversation summarizer for an AI agent called Orvane.\n"));
  EXPECT_TRUE(SUMMARIZE_PROMPT.ends_with("file paths, technical details, or user preferences.\n"));
}

TEST_F(SummaryRecord, TakesTheEightKeysOfTheReplyInTheirOwnOrderAndStampsTheTime) {
  const Json parsed = _parse_summary(R"(
    {"summary": "Done.", "extra": 1, "created_at": 5, "goals": "one goal as text",
     "current_state": null, "progress": ["a", "b"]}
  )");
  Json expected = record("one goal as text", nullptr, "Done.");
  expected["progress"] = {"a", "b"};
  EXPECT_EQ(parsed, expected);
  EXPECT_EQ(parsed.dump(), expected.dump());  // key order included
  EXPECT_TRUE(logs.records("orvane.summarizer").empty());
}

TEST_F(SummaryRecord, ReadsTheObjectInsideACodeFence) {
  const Json expected = record({"g"}, "", "");
  EXPECT_EQ(_parse_summary("```json\n{\"goals\": [\"g\"]}\n```"), expected);
  EXPECT_EQ(_parse_summary("  \n```\n{\"goals\":\n  [\"g\"]}\n  ```  \ntrailing words\n"),
            expected);
  // Never closed: everything after the opening line.
  EXPECT_EQ(_parse_summary("```JSON\n{\"goals\": [\"g\"]}"), expected);
  // A fence line with a tag inside the block is content; here it breaks the JSON.
  EXPECT_EQ(_parse_summary("```\n```json\n{}\n```"), parse_failure("```json\n{}"));
}

TEST_F(SummaryRecord, KeepsUnparsableTextAsTheNarrative) {
  EXPECT_EQ(_parse_summary("Here you go:\n```json\n{}\n```"),
            parse_failure("Here you go:\n```json\n{}\n```"));
  EXPECT_EQ(_parse_summary("```{\"goals\": []}```"), parse_failure(""));
  EXPECT_EQ(_parse_summary(" \n\t\u3000 "), parse_failure(""));

  std::string long_text;
  for (int i = 0; i < 1200; ++i) long_text += "ü";
  const Json parsed = _parse_summary("\n" + long_text + "\n");
  EXPECT_EQ(common::length(parsed["summary"].get<std::string>()), 1000u);
  EXPECT_EQ(parsed["summary"], common::cut(long_text, 1000));

  const auto records = logs.records("orvane.summarizer");
  ASSERT_EQ(records.size(), 4u);
  for (const auto& r : records) {
    EXPECT_EQ(r.level, spdlog::level::warn);
    EXPECT_EQ(r.message, PARSE_WARNING);
  }
}

TEST_F(SummaryRecord, RefusesJsonThatIsNotAnObject) {
  EXPECT_THROW(_parse_summary("[{\"goals\": []}]"), std::invalid_argument);
  EXPECT_THROW(_parse_summary("\"just text\""), std::invalid_argument);
  EXPECT_THROW(_parse_summary("```\n42\n```"), std::invalid_argument);
  EXPECT_TRUE(logs.records("orvane.summarizer").empty());
}

TEST_F(SummaryRecord, RefusesRepliesNestedTooDeepToRead) {
  const std::string deep = std::string(100000, '[') + std::string(100000, ']');
  EXPECT_THROW(_parse_summary("{\"goals\": " + deep + "}"), std::invalid_argument);
  // 512 levels in all are read.
  const std::string inner = std::string(510, '[') + std::string(510, ']');
  EXPECT_EQ(_parse_summary("{\"goals\": [" + inner + "]}")["goals"][0], Json::parse(inner));
  EXPECT_TRUE(logs.records("orvane.summarizer").empty());
}

TEST_F(SummaryRecord, EmptyRecordHasAllNineKeysEmpty) {
  EXPECT_EQ(_empty_summary().dump(), record(Json::array(), "", "").dump());
}

TEST_F(SummaryRecord, FallbackTakesTheFirstNonEmptyUserMessageAsTheGoal) {
  Json messages = Json::array();
  messages.push_back({{"role", "system"}, {"content", "sys"}});
  messages.push_back({{"role", "user"}, {"content", ""}});
  messages.push_back({{"role", "user"}, {"content", nullptr}});
  messages.push_back({{"role", "assistant"}, {"content", "hello"}});
  messages.push_back({{"role", "user"}, {"content", "Rename the photos"}});
  while (messages.size() < 12) messages.push_back({{"role", "user"}, {"content", "later"}});

  EXPECT_EQ(_fallback_summary(messages).dump(),
            record({"Rename the photos"}, "Conversation had 12 messages before summarization",
                   "Conversation with 12 messages. Primary request: Rename the photos")
                .dump());
}

TEST_F(SummaryRecord, FallbackWithoutAUserRequestNamesItUnknown) {
  const Json messages =
      Json::parse(R"([{"role": "assistant", "content": "hi"}, {"role": "user"}])");
  EXPECT_EQ(_fallback_summary(messages),
            record(Json::array(), "Conversation had 2 messages before summarization",
                   "Conversation with 2 messages. Primary request: unknown"));
}

TEST_F(SummaryRecord, FallbackCutsTheRequestTo200Characters) {
  std::string request;
  for (int i = 0; i < 201; ++i) request += "ß";
  const Json summary = _fallback_summary(Json::array({{{"role", "user"}, {"content", request}}}));
  const std::string expected = common::cut(request, 200) + "...";
  EXPECT_EQ(summary["goals"], Json::array({expected}));
  EXPECT_EQ(summary["summary"], "Conversation with 1 messages. Primary request: " + expected);
}

}  // namespace
}  // namespace orvane::summarizer
