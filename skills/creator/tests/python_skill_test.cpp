#include "support.hpp"

namespace orvane::skills::testing {
namespace {

const std::string CODE = "async def run(ctx, params):\n    return {}\n";

json script_skill(const std::string& name, const std::string& code = CODE) {
  return {{"type", "python"}, {"name", name}, {"code", code}, {"description", "Greets"}};
}

TEST_F(CreatorTest, AScriptSkillIsCheckedStoredWithItsMetadataAndLogged) {
  SKIP_WITHOUT_PYTHON();
  SkillCreator creator(data);
  RecordingRegistry registry;
  const auto [ok, message, skill] = creator.create_from_dict(script_skill("greet"), &registry);
  EXPECT_TRUE(ok);
  EXPECT_EQ(message,
            "Created Python skill 'greet' v1 (2 lines, category: custom). It's now available for "
            "use with run_skill.");
  EXPECT_EQ(skill, nullptr);
  EXPECT_TRUE(registry.registered.empty());
  const auto script = skills_dir() / "greet.py";
  const auto metadata = skills_dir() / "greet.json";
  EXPECT_EQ(records(),
            (std::vector<std::string>{"info: Saved Python skill script: " + script.string(),
                                      "info: Saved Python skill metadata: " + metadata.string()}));
  EXPECT_EQ(read_text(script), CODE);
  EXPECT_EQ(read_text(metadata), R"({
  "name": "greet",
  "type": "python",
  "description": "Greets",
  "app": "python",
  "category": "custom",
  "triggers": [],
  "required_params": [],
  "optional_params": [],
  "script": "greet.py",
  "version": 1,
  "reason": "Agent created this Python skill"
})");
  const auto entry = creator.get_improvement_log()[0];
  EXPECT_EQ(entry["action"], "created");
  EXPECT_EQ(entry["reason"], "Agent created this Python skill");
  EXPECT_EQ(entry["details"].dump(),
            R"({"type":"python","version":1,"category":"custom","code_lines":2,"triggers":[]})");

  // Again under the same name, with odd line breaks, an empty reason and values of other kinds,
  // which are stored as given.
  json again = script_skill("greet",
                            "async def run(ctx, params):\r\n    return {\"t\": \"\"\"a\vb\x1c"
                            "c\u0085d\u2029e\"\"\"}\r");
  again["reason"] = "";
  again["category"] = 5;
  again["triggers"] = "hi";
  const auto updated = creator.create_from_dict(again);
  EXPECT_EQ(updated.message,
            "Updated Python skill 'greet' v2 (6 lines, category: 5). It's now available for use "
            "with run_skill.");
  const auto stored = json::parse(read_text(metadata));
  EXPECT_EQ(stored["version"], 2);
  EXPECT_EQ(stored["category"], 5);
  EXPECT_EQ(stored["triggers"], "hi");
  EXPECT_EQ(stored["reason"], "");
  const auto last = creator.get_improvement_log(1)[0];
  EXPECT_EQ(last["action"], "updated");
  EXPECT_EQ(last["reason"], "");
  EXPECT_EQ(last["details"]["code_lines"], 6);

  // Such metadata loads and lists: the triggers as given, the category as its text form.
  ASSERT_EQ(creator.load_saved_skills().size(), 1u);
  EXPECT_EQ(creator.list_saved_skills().at(0)["category"], "5");
  EXPECT_EQ(creator.list_saved_skills().at(0)["triggers"], "hi");

  // Listed and loaded as a step-less skill; deleting removes the metadata only.
  ASSERT_TRUE(creator.create_from_dict(script_skill("greet")).success);
  const auto listed = creator.list_saved_skills();
  ASSERT_EQ(listed.size(), 1u);
  EXPECT_EQ(listed[0]["steps_count"], 0);
  EXPECT_EQ(listed[0]["version"], 3);
  EXPECT_EQ(creator.get_skill_source("greet").value()["script"], "greet.py");
  EXPECT_TRUE(creator.delete_skill("greet").success);
  EXPECT_FALSE(fs::exists(metadata));
  EXPECT_TRUE(fs::exists(script));

  // A simple skill of the same name takes over the metadata file and its version.
  ASSERT_TRUE(creator.create_from_dict(script_skill("greet")).success);
  EXPECT_EQ(creator.create_from_dict(simple_skill("greet")).message.substr(0, 25),
            "Updated skill 'greet' v2 ");
  EXPECT_EQ(json::parse(read_text(metadata))["dynamic"], true);
  EXPECT_TRUE(fs::exists(script));
}

TEST_F(CreatorTest, ScriptChecksReportEveryProblemInOrder) {
  SKIP_WITHOUT_PYTHON();
  SkillCreator creator(data);
  const auto failed = [&](const json& input) {
    const auto result = creator.create_from_dict(input);
    EXPECT_FALSE(result.success);
    return result.message;
  };
  const std::string prefix = "Validation failed:\n  - ";
  EXPECT_EQ(failed(script_skill("s", "def run(ctx, params):\n    return {}\n")),
            prefix + "Code must define 'async def run(ctx, params)'");
  EXPECT_EQ(failed(script_skill("s", "async def run_all(ctx):\n    return {}\n")),
            prefix + "Code must define a run() function");
  EXPECT_EQ(failed({{"type", "python"}, {"name", ""}}),
            prefix +
                "Skill name is required\n  - Python code is required\n  - Description is "
                "required\n  - Code must define 'async def run(ctx, params)'\n  - Code must "
                "define a run() function");
  EXPECT_EQ(failed(script_skill("a-b")),
            prefix + "Skill name must be alphanumeric with underscores");
  EXPECT_EQ(failed(script_skill("broken_skill", "async def run(ctx, params):\n    x = = 1\n")),
            prefix + "Syntax error in code: invalid syntax (broken_skill.py, line 2)");
  EXPECT_EQ(failed(script_skill("x", "async def run(ctx, params):\nreturn {}\n")),
            prefix +
                "Syntax error in code: expected an indented block after function "
                "definition on line 1 (x.py, line 2)");
  // A name the file system could not hold still gets its syntax checked.
  EXPECT_EQ(failed(script_skill(std::string("n\0", 2), "async def run(ctx, params):\n  (\n")),
            prefix +
                "Skill name must be alphanumeric with underscores\n  - Syntax error in code: "
                "'(' was never closed (n\uFFFD.py, line 2)");
  EXPECT_EQ(failed({{"type", "python"}, {"name", "s"}, {"code", 5}}),
            "Invalid skill data: 'code' must be text, not number");
  EXPECT_TRUE(fs::is_empty(skills_dir()));
  EXPECT_FALSE(fs::exists(log_file()));

  // No length limit for script names.
  EXPECT_TRUE(creator.create_from_dict(script_skill(std::string(100, 'a'))).success);
}

TEST_F(CreatorTest, CompilerFailuresOtherThanSyntaxReachTheCallerTyped) {
  SKIP_WITHOUT_PYTHON();
  SkillCreator creator(data);
  const std::vector<std::tuple<std::string, std::string, std::string>> cases = {
      {CODE + std::string(1, '\0'), "ValueError", "source code string cannot contain null bytes"},
  };
  for (const auto& [code, type, message] : cases) {
    try {
      creator.create_from_dict(script_skill("nul", code));
      ADD_FAILURE() << type;
    } catch (const CompileError& error) {
      EXPECT_EQ(error.type(), type);
      EXPECT_EQ(error.what(), message);
    }
  }
  EXPECT_TRUE(fs::is_empty(skills_dir()));
}

TEST_F(CreatorTest, ScriptSkillWritesThatFailAreReported) {
  SKIP_WITHOUT_PYTHON();
  SkillCreator creator(data);
  fs::create_directories(skills_dir() / "dir.py");
  auto result = creator.create_from_dict(script_skill("dir"));
  EXPECT_FALSE(result.success);
  EXPECT_EQ(result.message.rfind("Failed to save script: cannot replace '", 0), 0u)
      << result.message;

  fs::create_directories(skills_dir() / "meta.json" / "x");
  result = creator.create_from_dict(script_skill("meta"));
  EXPECT_EQ(result.message.rfind("Failed to save metadata: cannot replace '", 0), 0u)
      << result.message;
  EXPECT_EQ(read_text(skills_dir() / "meta.py"), CODE);  // the script stays
  EXPECT_TRUE(creator.get_improvement_log().empty());
}

}  // namespace
}  // namespace orvane::skills::testing
