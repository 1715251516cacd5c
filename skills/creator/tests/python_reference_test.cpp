// The creator against the Python it follows, run as a program: the syntax errors the compiler
// reports, and which characters count as word characters and alphanumerics.
#include "orvane/common/unicode.hpp"
#include "orvane/host/process.hpp"
#include "support.hpp"

namespace orvane::skills::testing {
namespace {

#ifdef ORVANE_REFERENCE_PYTHON
std::string run_reference(const std::string& script, const std::string& input = "") {
  return host::run_process(
             {ORVANE_REFERENCE_PYTHON, "-I", "-S", "-c", script},
             {.timeout_seconds = 120, .capture_output = true, .check = true, .input = input})
      .output;
}
#endif

TEST_F(CreatorTest, SyntaxMessagesAreThoseOfThePythonCompiler) {
#ifndef ORVANE_REFERENCE_PYTHON
  GTEST_SKIP() << "no python3.11 program beside the embedded library";
#else
  const std::string head = "async def run(ctx, params):\n";
  const std::vector<std::string> sources = {
      head + "    return {}\n",
      head + "    x = = 1\n",
      head + "return {}\n",
      head + "\tif 1:\n        pass\n\tpass\n",
      head + "    return {\n",
      head + "    return 'caf\u00e9\n",
      head + "    return {}\nreturn 1\n",
      head + "    await = 1\n",
      head + "    return f'{'\n",
      head + "    return {}\n  x = 1\n",
      head + "    nonlocal q\n",
      head + "    return \u00e9t\u00e9 \u2028\n",
      head + "    return {}\n" + std::string("\0", 1),
      "# coding: latin-1\n" + head + "    return '\u00e9'\n",
      head + "    return " + std::string(300, '(') + std::string(300, ')') + "\n",
  };
  const json expected = json::parse(run_reference(R"(
import json, sys
out = []
for src in json.load(sys.stdin):
    try:
        compile(src, "ref_skill.py", "exec", dont_inherit=True)
        out.append(None)
    except SyntaxError as e:
        out.append(str(e))
    except Exception as e:
        out.append("!" + type(e).__name__ + ": " + str(e))
print(json.dumps(out))
)",
                                                  json(sources).dump()));
  ASSERT_EQ(expected.size(), sources.size());
  SkillCreator creator(data);
  for (std::size_t i = 0; i < sources.size(); ++i) {
    std::string got;
    try {
      const auto result = creator.create_from_dict(
          {{"type", "python"}, {"name", "ref_skill"}, {"code", sources[i]}, {"description", "d"}});
      const std::string prefix = "Validation failed:\n  - Syntax error in code: ";
      got = result.success ? ""
            : result.message.substr(0, prefix.size()) == prefix
                ? result.message.substr(prefix.size())
                : "unexpected: " + result.message;
    } catch (const CompileError& error) {
      got = "!" + error.type() + ": " + error.what();
    }
    EXPECT_EQ(got, expected[i].is_null() ? "" : expected[i].get<std::string>()) << sources[i];
  }
#endif
}

TEST(UnicodeClasses, WordCharactersAndAlphanumericsAreThoseOfPythonsRe) {
#ifndef ORVANE_REFERENCE_PYTHON
  GTEST_SKIP() << "no python3.11 program beside the embedded library";
#else
  // One digit per code point: 1 when \w matches, 2 when isalnum(), 4 when Python's database
  // has it unassigned.
  const std::string classes = run_reference(R"(
import re, sys, unicodedata
w = re.compile(r"\w")
sys.stdout.write("".join(str((1 if w.match(chr(c)) else 0) + (2 if chr(c).isalnum() else 0)
    + (4 if unicodedata.category(chr(c)) == "Cn" else 0)) for c in range(0x110000)))
)");
  ASSERT_EQ(classes.size(), 0x110000u);
  std::size_t agreed = 0, newer = 0;
  std::vector<std::string> wrong;
  for (char32_t c = 0; c < 0x110000; ++c) {
    const int digit = classes[c] - '0';
    const bool word = digit & 1, alnum = digit & 2, unassigned = digit & 4;
    const bool ours_word = common::is_word_char(c), ours_alnum = common::is_alnum(c);
    if (ours_word == word && ours_alnum == alnum) {
      ++agreed;
    } else if (unassigned && ours_word && ours_alnum) {
      ++newer;  // assigned in a later Unicode version than Python's
    } else if (wrong.size() < 20) {
      wrong.push_back(std::to_string(std::uint32_t(c)));
    }
  }
  EXPECT_TRUE(wrong.empty()) << ::testing::PrintToString(wrong);
  EXPECT_EQ(agreed, 0x110000u);
  EXPECT_EQ(newer, 0u);
#endif
}

}  // namespace
}  // namespace orvane::skills::testing
