#include "orvane/common/json_text.hpp"

#include <gtest/gtest.h>

using nlohmann::ordered_json;
using orvane::common::dump_python_json;

// Expected texts are what Python 3.11 prints for json.dumps(obj, indent=2, ensure_ascii=True).
TEST(PythonJsonText, EscapesNonAsciiControlAndBeyondBmpLikePython) {
  ordered_json obj = {{"name", "caf\u00e9 \u2603"},
                      {"emoji", "\U0001F600"},
                      {"ctrl", "a\"b\\c\n\t\x01\x7f"},
                      {"n", nullptr},
                      {"t", true},
                      {"f", false}};
  EXPECT_EQ(
      dump_python_json(obj),
      "{\n  \"name\": \"caf\\u00e9 \\u2603\",\n  \"emoji\": \"\\ud83d\\ude00\",\n  \"ctrl\": "
      "\"a\\\"b\\\\c\\n\\t\\u0001\\u007f\",\n  \"n\": null,\n  \"t\": true,\n  \"f\": false\n}");
}

TEST(PythonJsonText, KeepsInsertionOrderAndWritesEmptyContainersInline) {
  auto obj = ordered_json::parse(
      R"({"empty_obj": {}, "empty_list": [], "nested": {"a": [1, [], {}, [2.5, {"b": {}}]]}})");
  EXPECT_EQ(dump_python_json(obj),
            "{\n  \"empty_obj\": {},\n  \"empty_list\": [],\n  \"nested\": {\n    \"a\": [\n      "
            "1,\n      [],\n      {},\n      [\n        2.5,\n        {\n          \"b\": {}\n     "
            "   }\n      ]\n    ]\n  }\n}");
  EXPECT_EQ(
      dump_python_json(obj, std::nullopt),
      R"({"empty_obj": {}, "empty_list": [], "nested": {"a": [1, [], {}, [2.5, {"b": {}}]]}})");
  EXPECT_EQ(dump_python_json(ordered_json::array()), "[]");
}

TEST(PythonJsonText, WritesFloatsAsPythonReprAndIntegersExactly) {
  ordered_json obj = {{"floats",
                       {0.0, 1733659200.0, 1e16, 1e-05, 0.1, 2.0, -0.0, 1e15, 0.0001, 123456789.123,
                        1.5e300, 5e-324}}};
  EXPECT_EQ(dump_python_json(obj),
            "{\n  \"floats\": [\n    0.0,\n    1733659200.0,\n    1e+16,\n    1e-05,\n    0.1,\n  "
            "  2.0,\n    -0.0,\n    1000000000000000.0,\n    0.0001,\n    123456789.123,\n    "
            "1.5e+300,\n    5e-324\n  ]\n}");
  ordered_json ints = {{"ints", {0, -1, 9007199254740993LL, 18446744073709551615ULL}}};
  EXPECT_EQ(dump_python_json(ints),
            "{\n  \"ints\": [\n    0,\n    -1,\n    9007199254740993,\n    18446744073709551615\n "
            " ]\n}");
}

TEST(PythonJsonText, RejectsInvalidUtf8InsteadOfWritingGarbage) {
  ordered_json obj = {{"bad", std::string("\xff\xfe")}};
  EXPECT_THROW(dump_python_json(obj), std::invalid_argument);
}
