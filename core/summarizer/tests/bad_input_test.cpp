// Conversations and model replies of every size and shape: the summarizer answers with a record
// that can be written as JSON, or refuses a conversation it cannot read before asking the model.
#include <gtest/gtest.h>

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/io_context.hpp>
#include <functional>
#include <limits>
#include <memory>
#include <stdexcept>

#include "orvane/common/unicode.hpp"
#include "orvane/host/clock.hpp"
#include "orvane/host/log.hpp"
#include "orvane/summarizer/summarizer.hpp"
#include "summary_record.hpp"

namespace orvane::summarizer {
namespace {

namespace asio = boost::asio;
using Json = nlohmann::ordered_json;

class ScriptedClient final : public host::LlmClient {
 public:
  std::function<host::LlmResponse()> answer;
  std::size_t calls = 0;
  std::size_t prompt_bytes = 0;

  asio::awaitable<host::LlmResponse> complete(Json messages, double, int) override {
    ++calls;
    prompt_bytes = messages[0]["content"].get_ref<const std::string&>().size();
    co_return answer();
  }
};

// Arrays `depth` levels deep, built without recursion.
Json nested(int depth) {
  Json top = Json::array();
  Json* inner = &top;
  for (int level = 1; level < depth; ++level) inner = &inner->emplace_back(Json::array());
  return top;
}

Json message(const char* role, Json content) {
  Json record = Json::object();
  record["role"] = role;
  record["content"] = std::move(content);
  return record;
}

// One user message with `field` nested far deeper than any JSON text may be (moved, never copied).
Json deep_message(const char* field) {
  Json messages = Json::array({message("user", "")});
  messages[0][field] = nested(100'000);
  return messages;
}

host::LlmResponse reply(std::string text) {
  return host::LlmResponse{std::move(text)};
}

enum class Outcome {
  PARSED,    // the reply's summary, "ok"
  UNPARSED,  // the reply kept as the narrative, cut to 1000 characters
  FALLBACK,  // the record built from the messages
  REFUSED,   // MessageFormatError, and the model is not asked
};

struct Case {
  const char* name;
  std::function<Json()> messages;
  std::function<host::LlmResponse()> answer;
  Outcome outcome;
  std::size_t prompt_at_least = 0;  // bytes of the prompt that reaches the model
};

TEST(SummarizeBadInput, EveryConversationAndReplyEndsInAWritableRecordOrARefusal) {
  host::set_clock(std::make_shared<host::VirtualClock>(1765000000.0));
  host::LogCapture logs;
  const auto ok = [] { return reply(R"({"goals": ["g"], "summary": "ok"})"); };
  const auto failing = []() -> host::LlmResponse { throw std::runtime_error("reset"); };
  const auto one = [] { return Json::array({message("user", "Rename my photos.")}); };
  const Case cases[] = {
      {"a 10 MB message",
       [] { return Json::array({message("user", std::string(10'000'000, 'x'))}); }, ok,
       Outcome::PARSED, 10'000'000},
      {"100,000 messages",
       [] {
         Json messages = Json::array();
         for (int i = 0; i < 50'000; ++i) {
           messages.push_back(message("user", "step " + std::to_string(i)));
           messages.push_back(message("assistant", "done"));
         }
         return messages;
       },
       failing, Outcome::FALLBACK},
      {"bytes that are not UTF-8 in texts, roles and ids",
       [] {
         return Json::array(
             {message("\xff", "lost"), message("user", "fix \xc3"),
              Json{{"role", "tool"}, {"tool_call_id", "\xfe"}, {"content", "\xed\xa0\x80"}},
              Json{{"role", "assistant"},
                   {"tool_calls", {{{"name", "\x80"}, {"arguments", "{\"k\": \"\xff\"}"}}}}}});
       },
       failing, Outcome::FALLBACK},
      {"content of every kind",
       [] {
         return Json::array(
             {message("user", nullptr), message("user", true), message("user", 5),
              message("user", std::numeric_limits<double>::quiet_NaN()),
              message("user", Json{{"a", "\xff"}}),
              message("user", Json::array({1, Json{{"type", "text"}, {"text", 7}}})),
              message("assistant", Json::array()),
              Json{{"role", "tool"}, {"tool_call_id", Json::array({nullptr})}, {"content", -1}}});
       },
       failing, Outcome::FALLBACK},
      {"content as deep as a JSON file may nest",
       [] { return Json::array({message("user", nested(510))}); }, ok, Outcome::PARSED},
      {"content nested too deep to write", [] { return deep_message("content"); }, ok,
       Outcome::REFUSED},
      {"a role nested too deep", [] { return deep_message("role"); }, ok, Outcome::REFUSED},
      {"tool call arguments nested too deep",
       [] {
         Json messages = Json::array({message("assistant", "")});
         messages[0]["tool_calls"][0]["function"]["arguments"]["k"] = nested(100'000);
         return messages;
       },
       ok, Outcome::REFUSED},
      {"a reply of garbage", one, [] { return reply("\x01\x02 }{ ]["); }, Outcome::UNPARSED},
      {"a reply that is not UTF-8", one, [] { return reply("{\"summary\": \"\xff\"}"); },
       Outcome::UNPARSED},
      {"a reply of encoded surrogates", one, [] { return reply("\xed\xa0\x80\xed\xb0\x80"); },
       Outcome::UNPARSED},
      {"a 20 MB reply", one, [] { return reply(std::string(20'000'000, 'a')); }, Outcome::UNPARSED},
      {"a 20 MB reply in an open fence", one,
       [] { return reply("```json\n" + std::string(20'000'000, 'a')); }, Outcome::UNPARSED},
      {"a 20 MB summary", one,
       [] {
         return reply(R"({"summary": "ok", "key_facts": [")" + std::string(20'000'000, 'f') +
                      "\"]}");
       },
       Outcome::PARSED},
      {"a reply nested too deep", one, [] { return reply(std::string(100'000, '[')); },
       Outcome::FALLBACK},
  };
  for (const auto& [name, make_messages, answer, outcome, prompt_at_least] : cases) {
    SCOPED_TRACE(name);
    ScriptedClient client;
    client.answer = answer;
    ConversationSummarizer summarizer(client);
    asio::io_context io;
    std::optional<Json> record;
    std::exception_ptr failure;
    asio::co_spawn(io, summarizer.summarize_messages(make_messages(), "earlier \xff"),
                   [&](std::exception_ptr error, Json value) {
                     failure = error;
                     record = std::move(value);
                   });
    io.run();
    if (outcome == Outcome::REFUSED) {
      EXPECT_EQ(client.calls, 0u);
      ASSERT_TRUE(failure);
      EXPECT_THROW(std::rethrow_exception(failure), MessageFormatError);
      continue;
    }
    ASSERT_FALSE(failure);
    EXPECT_EQ(client.calls, 1u);
    EXPECT_GE(client.prompt_bytes, prompt_at_least);
    EXPECT_NO_THROW(record->dump());  // every text is UTF-8
    EXPECT_EQ(record->size(), 9u);
    switch (outcome) {
      case Outcome::PARSED:
        EXPECT_EQ((*record)["summary"], "ok");
        break;
      case Outcome::UNPARSED: {
        const auto& summary = (*record)["summary"].get_ref<const std::string&>();
        EXPECT_FALSE(summary.empty());
        EXPECT_LE(common::length(summary), 1000u);
        EXPECT_EQ((*record)["goals"], Json::array());
        break;
      }
      default:
        EXPECT_EQ(*record, _fallback_summary(make_messages()));
    }
  }
  host::set_clock(nullptr);
}

}  // namespace
}  // namespace orvane::summarizer
