#include "transcript.hpp"

#include <gtest/gtest.h>

#include <string>

#include "orvane/summarizer/summarizer.hpp"

namespace orvane::summarizer {
namespace {

using Json = nlohmann::ordered_json;

// `count` copies of a two-byte character, so that byte and character counts differ.
std::string chars(std::size_t count) {
  std::string text;
  for (std::size_t i = 0; i < count; ++i) text += "é";
  return text;
}

TEST(Transcript, HasNoLinesForSystemMessagesOrUnknownRoles) {
  EXPECT_EQ(_format_messages_for_summary(Json::array()), "");
  EXPECT_EQ(_format_messages_for_summary(Json::parse(R"([
    {"role": "system", "content": "You are Orvane."},
    {"content": "no role"},
    {"role": "narrator", "content": "Once upon a time"},
    {"role": null, "content": "x"}
  ])")),
            "");
}

TEST(Transcript, LabelsEachMessageAndKeepsUserAndAssistantTextWhole) {
  const std::string long_text = chars(5000) + "\nsecond line";
  const Json messages = {{{"role", "user"}, {"content", long_text}},
                         {{"role", "assistant"}, {"content", "On it."}},
                         {{"role", "user"}},
                         {{"role", "user"}, {"content", ""}},
                         {{"role", "assistant"}, {"content", ""}},
                         {{"role", "assistant"}, {"content", nullptr}}};
  EXPECT_EQ(_format_messages_for_summary(messages),
            "[User]: " + long_text + "\n[Assistant]: On it.\n[User]: \n[User]: ");
}

TEST(Transcript, CutsToolResultsLongerThan500Characters) {
  const Json messages = {
      {{"role", "tool"}, {"tool_call_id", "call_1"}, {"content", chars(500)}},
      {{"role", "tool"}, {"tool_call_id", "call_2"}, {"content", chars(501)}},
      {{"role", "tool"}, {"content", ""}},
  };
  EXPECT_EQ(_format_messages_for_summary(messages),
            "[Tool Result (call_1)]: " + chars(500) + "\n[Tool Result (call_2)]: " + chars(500) +
                "... [truncated]\n[Tool Result (unknown)]: ");
}

TEST(Transcript, CountsRawBytesThatAreNotUtf8AsReplacementCharacters) {
  const Json messages = {
      {{"role", "tool"}, {"tool_call_id", "bin"}, {"content", "\xff\xfe" + std::string(499, 'a')}},
      {{"role", "user"}, {"content", "raw \xff kept"}}};
  EXPECT_EQ(_format_messages_for_summary(messages), "[Tool Result (bin)]: \uFFFD\uFFFD" +
                                                        std::string(498, 'a') +
                                                        "... [truncated]\n[User]: raw \xff kept");
}

TEST(Transcript, RendersContentBlocksAsTheirTextAndCutsTheResult) {
  const Json blocks = Json::parse(R"([
    {"type": "text", "text": "first"},
    {"type": "image", "source": {"data": "AAAA"}},
    {"type": "text", "text": "last"}
  ])");
  EXPECT_EQ(_format_messages_for_summary(Json::array({{{"role", "user"}, {"content", blocks}}})),
            "[User]: first\n{\"type\":\"image\",\"source\":{\"data\":\"AAAA\"}}\nlast");

  const Json long_blocks = Json::array(
      {{{"type", "text"}, {"text", chars(300)}}, {{"type", "text"}, {"text", chars(300)}}});
  EXPECT_EQ(_format_messages_for_summary(
                Json::array({{{"role", "tool"}, {"tool_call_id", "c"}, {"content", long_blocks}}})),
            "[Tool Result (c)]: " + chars(300) + "\n" + chars(199) + "... [truncated]");
}

TEST(Transcript, GivesOneLineForTheTextAndOneForEachCallInOrder) {
  const Json messages = Json::parse(R"([
    {"role": "assistant", "content": "Let me look.", "tool_calls": [
      {"id": "1", "type": "function", "function": {"name": "read_file", "arguments": "{\"path\": \"/tmp/a\"}"}},
      "not a call",
      {"name": "shell", "arguments": {"cmd": "ls", "timeout": 5}}
    ]},
    {"role": "assistant", "content": "", "tool_calls": [{"name": "noop"}]}
  ])");
  EXPECT_EQ(_format_messages_for_summary(messages),
            "[Assistant]: Let me look.\n"
            "[Assistant called read_file]: path=/tmp/a\n"
            "[Assistant called shell]: cmd=ls, timeout=5\n"
            "[Assistant called noop]: ");
}

TEST(Transcript, PrefersFlatCallKeysOverTheFunctionObject) {
  const Json messages = Json::parse(R"([{"role": "assistant", "tool_calls": [
    {"name": "flat", "arguments": {"a": 1}, "function": {"name": "nested", "arguments": {"b": 2}}},
    {"name": "mixed", "function": {"arguments": {"b": 2}}},
    {"arguments": {"c": 3}},
    {"function": {}}
  ]}])");
  EXPECT_EQ(_format_messages_for_summary(messages),
            "[Assistant called flat]: a=1\n"
            "[Assistant called mixed]: b=2\n"
            "[Assistant called unknown]: c=3\n"
            "[Assistant called unknown]: ");
}

TEST(Transcript, ShowsArgumentsThatAreNoObjectAsTextCutTo200Characters) {
  const std::string not_json = "{broken " + chars(300);
  const Json messages = {{{"role", "assistant"},
                          {"tool_calls",
                           {{{"name", "a"}, {"arguments", not_json}},
                            {{"name", "b"}, {"arguments", "[1, \"two\", null]"}},
                            {{"name", "c"}, {"arguments", "3.5"}},
                            {{"name", "d"}, {"arguments", Json::array({true, false})}}}}}};
  EXPECT_EQ(_format_messages_for_summary(messages), "[Assistant called a]: {broken " + chars(192) +
                                                        "\n"
                                                        "[Assistant called b]: [1,\"two\",null]\n"
                                                        "[Assistant called c]: 3.5\n"
                                                        "[Assistant called d]: [true,false]");
}

TEST(Transcript, ShowsArgumentsNestedTooDeepToRenderAsTheirText) {
  // `levels` arrays inside one another, with a blank after each opening bracket.
  const auto nested = [](int levels) {
    std::string text;
    for (int i = 0; i < levels; ++i) text += "[ ";
    return text + std::string(levels, ']');
  };
  const std::string deep = "{\"a\": " + nested(100000) + "}";
  const Json messages = {{{"role", "assistant"},
                          {"tool_calls",
                           {{{"name", "a"}, {"arguments", nested(512)}},
                            {{"name", "b"}, {"arguments", nested(513)}},
                            {{"name", "c"}, {"arguments", deep}}}}}};
  EXPECT_EQ(_format_messages_for_summary(messages),
            "[Assistant called a]: " + std::string(200, '[') + "\n[Assistant called b]: " +
                nested(513).substr(0, 200) + "\n[Assistant called c]: " + deep.substr(0, 200));
}

TEST(BriefArgs, CutsEachValueLongerThan100CharactersAndKeepsKeyOrder) {
  Json args = Json::object();
  args["zeta"] = chars(100);
  args["alpha"] = chars(101);
  args[chars(150)] = "key kept whole";
  EXPECT_EQ(_brief_args(args), "zeta=" + chars(100) + ", alpha=" + chars(100) + "..., " +
                                   chars(150) + "=key kept whole");
  EXPECT_EQ(_brief_args(Json::object()), "");
}

TEST(BriefArgs, WritesNumbersInDecimalAndOtherValuesAsCompactJson) {
  const Json args = Json::parse(
      R"({"n": -7, "big": 18446744073709551615, "x": 0.1, "whole": 2.0, "none": null,
          "yes": true, "list": [1, "a"], "obj": {"k": "v", "n": [null]}})");
  EXPECT_EQ(_brief_args(args),
            "n=-7, big=18446744073709551615, x=0.1, whole=2.0, none=null, yes=true, "
            "list=[1,\"a\"], obj={\"k\":\"v\",\"n\":[null]}");
}

TEST(Transcript, RejectsMessageListsThatAreMalformed) {
  EXPECT_THROW(_format_messages_for_summary(Json::array({"hello"})), MessageFormatError);
  EXPECT_THROW(_format_messages_for_summary(Json::object()), MessageFormatError);
  for (const Json& calls : {Json(3), Json(true)}) {
    EXPECT_THROW(
        _format_messages_for_summary(Json::array({{{"role", "assistant"}, {"tool_calls", calls}}})),
        MessageFormatError)
        << calls;
  }
  for (const Json& function : {Json("read_file"), Json(nullptr), Json::array()}) {
    const Json message = {{"role", "assistant"},
                          {"tool_calls", Json::array({{{"name", "x"}, {"function", function}}})}};
    EXPECT_THROW(_format_messages_for_summary(Json::array({message})), MessageFormatError)
        << function;
  }
}

TEST(Transcript, IgnoresToolCallsThatHoldNoCallRecords) {
  for (const Json& calls : {Json("call it"), Json({{"name", "x"}}), Json(false), Json(0),
                            Json(nullptr), Json::array()}) {
    const Json message = {{"role", "assistant"}, {"content", "hi"}, {"tool_calls", calls}};
    EXPECT_EQ(_format_messages_for_summary(Json::array({message})), "[Assistant]: hi") << calls;
  }
}

}  // namespace
}  // namespace orvane::summarizer
