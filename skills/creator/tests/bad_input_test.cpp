// Input that no well-behaved agent writes: every case ends in a clear error or a correct result,
// and a refused operation leaves every file as it was.
#include <cmath>
#include <limits>
#include <map>

#include "orvane/common/json_read.hpp"
#include "orvane/common/json_text.hpp"
#include "support.hpp"

namespace orvane::skills::testing {
namespace {

const std::string CODE = "async def run(ctx, params):\n    return {}\n";

json script(const std::string& name, const std::string& code = CODE) {
  return {{"type", "python"}, {"name", name}, {"code", code}, {"description", "Greets"}};
}

json with(json object, const std::string& key, json value) {
  object[key] = std::move(value);
  return object;
}

json nested_list(int depth) {
  json value = json::array();
  for (int level = 1; level < depth; ++level) value = json::array({std::move(value)});
  return value;
}

// `skill` with its first step's "params" holding a value nested so that the whole skill object is
// `depth` levels deep: the object, "steps", the step, "params", then lists.
json nested_skill(int depth, json skill) {
  skill["steps"][0]["params"]["deep"] = nested_list(depth - 4);
  return skill;
}

std::map<fs::path, std::string> files_under(const fs::path& dir) {
  std::map<fs::path, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(dir))
    if (entry.is_regular_file()) files[entry.path()] = read_text(entry.path());
  return files;
}

TEST_F(CreatorTest, BadSkillObjectsGetAClearAnswerAndRefusalsLeaveTheFilesAsTheyWere) {
  SKIP_WITHOUT_PYTHON();
  SkillCreator creator(data);
  ASSERT_TRUE(creator.create_from_dict(simple_skill("kept")).success);
  ASSERT_TRUE(creator.create_from_dict(script("kept_script")).success);

  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  json odd_numbers = simple_skill("odd_numbers");
  odd_numbers["steps"][0].update({{"wait_after", nan},
                                  {"max_retries", -3},
                                  {"retry_on_fail", inf},
                                  {"optional", -inf},
                                  {"big", std::numeric_limits<std::uint64_t>::max()},
                                  {"huge", 1e300}});
  odd_numbers["version"] = nan;
  std::string big_code = CODE;
  while (big_code.size() < (1u << 20)) big_code += "    x = 'padding padding padding padding'\n";
  const auto big_lines = std::to_string(std::count(big_code.begin(), big_code.end(), '\n'));
  const std::string invalid = "Invalid skill data: ";
  const std::string failed = "Validation failed:\n  - ";

  struct Case {
    const char* what;
    json input;
    bool success;
    std::string message;  // the whole message, or its start when it ends in "..."
  };
  const std::vector<Case> cases = {
      {"name not UTF-8", simple_skill("kept\xff"), false,
       failed + "Skill name must be alphanumeric with underscores only"},
      {"description not UTF-8", with(simple_skill("kept"), "description", "news \xc3"), false,
       invalid + "'description' holds text that is not valid UTF-8"},
      {"trigger not UTF-8", with(simple_skill("kept"), "triggers", {"ok", "\xe2\x82"}), false,
       invalid + "'triggers' holds text that is not valid UTF-8"},
      {"step field not UTF-8",
       with(simple_skill("kept"), "steps",
            {{{"operation", "screenshot"}, {"description", "look"}, {"note\xfe", 1}}}),
       false, invalid + "'steps' holds text that is not valid UTF-8"},
      {"script name not UTF-8", script("kept_script\xff"), false,
       failed + "Skill name must be alphanumeric with underscores"},
      {"script description not UTF-8", with(script("kept_script"), "description", "\xff"), false,
       invalid + "'description' holds text that is not valid UTF-8"},
      {"script category not UTF-8", with(script("kept_script"), "category", "c\xff"), false,
       invalid + "'category' holds text that is not valid UTF-8"},
      {"script code not UTF-8", script("kept_script", CODE + "x = 'caf\xe9'\n"), false,
       failed + "Syntax error in code: (unicode error) 'utf-8' codec can't decode byte 0xe9 in "
                "position 8: invalid continuation byte (kept_script.py, line 3)"},
      {"script code cut inside a character", script("kept_script", "\xe2\x82"), false,
       failed + "Code must define 'async def run(ctx, params)'\n  - Code must define a run() "
                "function\n  - Syntax error in code: (unicode error) 'utf-8' codec can't decode "
                "bytes in position 0-1: unexpected end of data (kept_script.py, line 1)"},
      {"1 MB script", script("big", big_code), true,
       "Created Python skill 'big' v1 (" + big_lines + " lines, category: custom)..."},
      {"1 MB script, broken at its end", script("kept_script", big_code + "    x = = 1\n"), false,
       failed + "Syntax error in code: invalid syntax (kept_script.py, line " +
           std::to_string(std::stoi(big_lines) + 1) + ")"},
      {"nested one level too deep", nested_skill(513, simple_skill("kept")), false,
       invalid + "the skill is nested more than 512 levels deep"},
      {"script nested one level too deep",
       with(script("kept_script"), "triggers", nested_skill(512, simple_skill("nested"))), false,
       invalid + "the skill is nested more than 512 levels deep"},
      {"nested just deep enough", nested_skill(512, simple_skill("nested")), true,
       "Created skill 'nested' v1 ..."},
      {"triggers of other kinds", with(simple_skill("odd_triggers"), "triggers", {"", 5}), true,
       "Created skill 'odd_triggers' v1 ..."},
      {"empty triggers text", with(simple_skill("kept"), "triggers", ""), false,
       failed + "At least one trigger keyword is required"},
      {"script reason too deep for the log", with(script("deep"), "reason", nested_list(511)), true,
       "Created Python skill 'deep' v1 ..."},
      {"numbers that are not finite or out of range", odd_numbers, true,
       "Created skill 'odd_numbers' v1 (2 steps, category: productivity)..."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const auto before = files_under(data);
    const auto result = creator.create_from_dict(c.input);
    EXPECT_EQ(result.success, c.success);
    if (c.message.ends_with("...")) {
      EXPECT_TRUE(result.message.starts_with(c.message.substr(0, c.message.size() - 3)))
          << result.message;
    } else {
      EXPECT_EQ(result.message, c.message);
    }
    if (!c.success) {
      EXPECT_EQ(files_under(data), before);
    }
  }

  // What was stored reads back as it was given, and lists as it loads.
  const auto skills = creator.load_saved_skills();
  const auto listed = creator.list_saved_skills();
  ASSERT_EQ(listed.size(), skills.size());
  std::map<std::string, std::shared_ptr<DynamicSkill>> by_name;
  for (std::size_t i = 0; i < skills.size(); ++i) {
    EXPECT_EQ(listed[i]["name"], skills[i]->name);
    EXPECT_EQ(listed[i]["triggers"], skills[i]->to_dict()["triggers"]);
    by_name[skills[i]->name] = skills[i];
  }
  ASSERT_TRUE(by_name.contains("nested") && by_name.contains("odd_numbers") &&
              by_name.contains("odd_triggers") && by_name.contains("deep"));
  EXPECT_EQ(by_name["odd_triggers"]->to_dict()["triggers"], json::array({"", 5}));
  EXPECT_EQ(by_name["odd_triggers"]->triggers, std::vector<std::string>{""});
  EXPECT_EQ(SkillCreator(data).get_improvement_log(0).size(),
            creator.get_improvement_log(0).size());
  EXPECT_EQ(common::dump_python_json(by_name["nested"]->to_dict()["steps"]),
            common::dump_python_json(nested_skill(512, simple_skill("nested"))["steps"]));
  EXPECT_EQ(common::dump_python_json(by_name["odd_numbers"]->to_dict()["steps"]),
            common::dump_python_json(odd_numbers["steps"]));
  EXPECT_EQ(by_name["odd_numbers"]->to_dict()["version"], 1);
  EXPECT_EQ(read_text(skills_dir() / "big.py"), big_code);
}

// Stored files written by hand or by another version: what loading makes of them, what listing
// shows, and the version that replacing them gives.
TEST_F(CreatorTest, StoredFilesOfTheWrongKindLoadListAndUpdateAlike) {
  SKIP_WITHOUT_PYTHON();
  struct Case {
    const char* what;
    std::string version;  // the JSON text of the stored "version"
    int64_t loaded;       // 0: the file is not loaded
    int64_t next;         // the version that replacing the file gives
  };
  const std::vector<Case> cases = {
      {"integer", "3", 3, 4},
      {"whole float", "3.0", 3, 4},
      {"fraction", "2.5", 2, 3},
      {"negative fraction", "-9.5", -9, -8},
      {"text", "\"7\"", 1, 1},
      {"null", "null", 1, 1},
      {"boolean", "true", 1, 1},
      {"NaN", "NaN", 1, 1},
      {"Infinity", "Infinity", 1, 1},
      {"-Infinity", "-Infinity", 1, 1},
      {"largest integer", "9223372036854775807", 9223372036854775807, 1},
      {"beyond 64 bits", "18446744073709551616", 1, 1},
      {"beyond any double", "1e400", 0, 1},
  };
  SkillCreator creator(data);
  const std::string stored = R"({"name": "v", "description": "d", "app": "a", "version": )";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    write_text(skills_dir() / "v.json", stored + c.version + "}");
    const auto skills = creator.load_saved_skills();
    const auto listed = creator.list_saved_skills();
    ASSERT_EQ(skills.size(), c.loaded == 0 ? 0u : 1u);
    ASSERT_EQ(listed.size(), skills.size());
    if (c.loaded != 0) {
      EXPECT_EQ(skills[0]->to_dict()["version"], c.loaded);
      EXPECT_EQ(listed[0]["version"], c.loaded);
    }
    const std::string w = c.next > 1 ? "Updated" : "Created";
    const std::string v = "'v' v" + std::to_string(c.next) + " (";
    auto message = creator.create_from_dict(simple_skill("v")).message;
    EXPECT_TRUE(message.starts_with(w + " skill " + v)) << message;
    write_text(skills_dir() / "v.json", stored + c.version + "}");
    message = creator.create_from_dict(script("v")).message;
    EXPECT_TRUE(message.starts_with(w + " Python skill " + v)) << message;
  }

  // Other members: null stands for the empty text; another kind or bytes that are not UTF-8 make
  // the file unloadable, and then unlisted.
  const std::vector<std::pair<std::string, bool>> files = {
      {R"({"description": null, "reason": null})", true},
      {R"({"description": 5})", false},
      {"{\"description\": \"caf\xe9\"}", false},
      {R"({"steps": {"operation": "screenshot"}})", false},
  };
  for (const auto& [text, loads] : files) {
    SCOPED_TRACE(text);
    write_text(skills_dir() / "v.json", text);
    logs.clear();
    const auto skills = creator.load_saved_skills();
    const auto listed = creator.list_saved_skills();
    ASSERT_EQ(skills.size(), loads ? 1u : 0u);
    ASSERT_EQ(listed.size(), skills.size());
    EXPECT_EQ(records().size(), 1u);  // "Loaded saved skill" or "Failed to load skill"
    if (loads) {
      EXPECT_EQ(listed[0]["description"], "");
      EXPECT_EQ(listed[0]["reason"], "");
    }
  }
}

// Details the log file could not hold and read back are stored as a note, with a warning.
TEST_F(CreatorTest, LearningNeverRaisesAndTheLogStaysLoadable) {
  const std::string deep = R"({"note":"details nested too deeply to store"})";
  const std::string unwritable = R"({"note":"details holding a value with no JSON text"})";
  struct Case {
    std::optional<json> details;  // the argument itself: a copy of 100,000 levels would recurse
    std::string stored;           // empty: as given
  };
  std::vector<Case> cases;
  cases.push_back({nested_list(510), ""});
  cases.push_back({nested_list(511), deep});
  cases.push_back({nested_list(100'000), deep});
  cases.push_back({json(json::value_t::discarded), unwritable});
  cases.push_back({{{"k", json::binary({1})}}, unwritable});
  SkillCreator creator(data);
  for (const auto& c : cases) {
    logs.clear();
    EXPECT_NO_THROW(creator.log_learning("s", "r", c.details));
    const auto stored = creator.get_improvement_log(1).at(0)["details"];
    EXPECT_EQ(stored.dump(), c.stored.empty() ? c.details->dump() : c.stored);
    EXPECT_EQ(records().size(), c.stored.empty() ? 0u : 1u);
  }
  EXPECT_EQ(records().at(0),
            "warning: Improvement log entry for skill s: details holding a value "
            "with no JSON text; a note stands in its place");
  SkillCreator reloaded(data);
  EXPECT_EQ(reloaded.get_improvement_stats()["learnings_recorded"], cases.size());
}

// A long log, odd numbers in its entries, and log files that cannot be read back.
TEST_F(CreatorTest, TheImprovementLogKeepsOddNumbersAndLongHistoriesAndSetsAsideWhatItCannotRead) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const json odd = {{"nan", nan},
                    {"inf", inf},
                    {"-inf", -inf},
                    {"negative", -5},
                    {"big", std::numeric_limits<std::uint64_t>::max()},
                    {"small", std::numeric_limits<std::int64_t>::min()},
                    {"huge", 1e300}};
#ifdef __SANITIZE_ADDRESS__
  const std::size_t count = 2000;  // the sanitizer makes each pass over the log far slower
#else
  const std::size_t count = 20000;
#endif
  json entries = json::array();
  for (std::size_t i = 0; i < count; ++i) {
    entries.push_back(ImprovementEntry{.timestamp = "2025-03-10 05:59:30",
                                       .action = i % 2 ? "created" : "learned",
                                       .skill_name = "s" + std::to_string(i),
                                       .reason = "r",
                                       .details = odd}
                          .to_dict());
  }
  const std::string before = common::dump_python_json(entries);
  write_text(log_file(), before);
  {
    SkillCreator creator(data);
    EXPECT_TRUE(records().empty());
    EXPECT_EQ(creator.get_improvement_log(0).size(), count);
    EXPECT_EQ(creator.get_improvement_stats()["skills_created"], count / 2);
    creator.log_learning("s", "again", odd);
    const std::string after = read_text(log_file());
    // Every earlier entry is written back as it was; the new one follows.
    EXPECT_EQ(after.substr(0, before.size() - 2), before.substr(0, before.size() - 2));
    const json reread = common::parse_python_json(after);
    ASSERT_EQ(reread.size(), count + 1);
    EXPECT_EQ(common::dump_python_json(reread.back()["details"]), common::dump_python_json(odd));
  }

  // Files that cannot be read back are set aside whole, and the log starts empty.
  for (const std::string& text :
       std::vector<std::string>{"[{\"timestamp\": \"t\", \"action\": \"a\", \"skill_name\": "
                                "\"s\", \"reason\": \"r\", \"details\": {\"n\": 1e400}}]",
                                std::string("[{\"timestamp\": \"t\", \"action\": \"a\", "
                                            "\"skill_name\": \"caf\xe9\", \"reason\": \"r\"}]")}) {
    SCOPED_TRACE(text);
    for (const auto& entry : fs::directory_iterator(data))
      if (entry.path() != skills_dir()) fs::remove(entry.path());
    write_text(log_file(), text);
    logs.clear();
    SkillCreator creator(data);
    EXPECT_TRUE(creator.get_improvement_log().empty());
    const auto r = records();
    ASSERT_EQ(r.size(), 2u);
    EXPECT_TRUE(r[0].starts_with("warning: Failed to load improvement log: ")) << r[0];
    const fs::path aside = r[1].substr(r[1].rfind(' ') + 1);
    EXPECT_EQ(read_text(aside), text);
  }
}

}  // namespace
}  // namespace orvane::skills::testing
