#include "orvane/common/json_read.hpp"

#include <gtest/gtest.h>

#include <string>

#include "orvane/common/json_text.hpp"

using nlohmann::ordered_json;
using namespace orvane::common;

namespace {
std::string nested_text(int depth) {
  return std::string(depth, '[') + std::string(depth, ']');
}

template <typename Read>
std::string dump_or_error(Read read) {
  try {
    return read().dump();
  } catch (const ordered_json::exception& error) {
    return error.what();
  }
}
}  // namespace

// Expected texts are Python 3.11's json.dumps(json.loads(text)); "error" where json.loads fails.
// (json.loads also reads a number too large for a float, such as 1e999, as infinity; no JSON
// writer produces one, and this reader refuses it.)
TEST(PythonJsonRead, ReadsNonFiniteNumbersWherePythonDoesAndNowhereElse) {
  const std::pair<const char*, const char*> cases[] = {
      {"[NaN, Infinity, -Infinity, 2.5]", "[NaN, Infinity, -Infinity, 2.5]"},
      {R"({"NaN": "Infinity \"NaN\" \\", "k": [NaN]})",
       R"({"NaN": "Infinity \"NaN\" \\", "k": [NaN]})"},
      {R"({"a":NaN,"b":"x","c":-Infinity})", R"({"a": NaN, "b": "x", "c": -Infinity})"},
      {" [ NaN ] ", "[NaN]"},
      {"NaN", "NaN"},
      {"[nan]", "error"},
      {"[-NaN]", "error"},
      {"[NaNa]", "error"},
      {"[+Infinity]", "error"},
      {"[- Infinity]", "error"},
      {"{NaN: 1}", "error"},
      {"[1Infinity]", "error"},
      {R"(["NaN])", "error"},
      {R"([NaN"x"])", "error"},
  };
  for (const auto& [text, expected] : cases) {
    std::string written;
    try {
      written = dump_python_json(parse_python_json(text), std::nullopt);
    } catch (const ordered_json::exception&) {
      written = "error";
    }
    EXPECT_EQ(written, expected) << text;
  }
}

TEST(JsonRead, RefusesNestingDeeperThanTheLimitWithoutRecursing) {
  const auto deepest = parse_json(nested_text(MAX_JSON_DEPTH));
  EXPECT_FALSE(nests_deeper_than(deepest, MAX_JSON_DEPTH));
  EXPECT_TRUE(nests_deeper_than(deepest, MAX_JSON_DEPTH - 1));
  EXPECT_EQ(parse_python_json("[NaN, " + nested_text(MAX_JSON_DEPTH - 1) + "]").size(), 2u);
  for (const int depth : {MAX_JSON_DEPTH + 1, 100'000}) {
    EXPECT_THROW(parse_json(nested_text(depth)), JsonTooDeep) << depth;
    EXPECT_THROW(parse_json(nested_text(depth), OnInvalid::Discard), JsonTooDeep) << depth;
    EXPECT_THROW(parse_python_json("[NaN, " + nested_text(depth) + "]"), JsonTooDeep) << depth;
  }
  EXPECT_TRUE(parse_json("[1,", OnInvalid::Discard).is_discarded());
  EXPECT_THROW(parse_json("[1,"), ordered_json::parse_error);

  // Wide values count their deepest path only.
  const auto wide = parse_json(R"({"a": [1, {"b": []}], "c": {}, "d": 2})");
  EXPECT_FALSE(nests_deeper_than(wide, 4));
  EXPECT_TRUE(nests_deeper_than(wide, 3));
  EXPECT_FALSE(nests_deeper_than(ordered_json(7), 0));
  EXPECT_TRUE(nests_deeper_than(ordered_json::array(), 0));
}

TEST(JsonRead, ReadsAndRefusesWhatThePlainParserDoes) {
  const char* const texts[] = {
      R"([{"role": "user", "content": "hi"}, {"role": "assistant", "content": [{}, []]}])",
      R"({"a": 1, "b": {"c": [true, null, -2, 18446744073709551615, 1.5e3]}, "a": [2]})",
      R"("\u00e9\ud83d\ude00")",
      "7",
      "[]",
      "",
      "[1,",
      "[1] x",
      "[1e999]",
      R"({"a" 1})",
      "[1,]",
      "\"\x01\""};
  for (const std::string text : texts) {
    EXPECT_EQ(dump_or_error([&] { return parse_json(text); }),
              dump_or_error([&] { return ordered_json::parse(text); }))
        << text;
    EXPECT_EQ(parse_json(text, OnInvalid::Discard).dump(),
              ordered_json::parse(text, nullptr, false).dump())
        << text;
  }
}
