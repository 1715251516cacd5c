#include <limits>

#include "support.hpp"

namespace orvane::skills::testing {
namespace {

TEST_F(CreatorTest, CreatingWritesTheFileHotLoadsAndLogsAndCreatingAgainUpdates) {
  SkillCreator creator(data);
  RecordingRegistry registry;
  json input = simple_skill();
  input["description"] = "\u00d6ffne die Nachrichten";
  input["version"] = 7;  // ignored: a new skill starts at 1

  const auto [ok, message, skill] = creator.create_from_dict(input, &registry);
  EXPECT_TRUE(ok);
  EXPECT_EQ(message,
            "Created skill 'open_news' v1 (2 steps, category: productivity). It's now available "
            "for use.");
  ASSERT_NE(skill, nullptr);
  EXPECT_EQ(registry.registered, std::vector<std::string>{"open_news"});
  EXPECT_EQ(registry._skills.at("open_news"), skill);
  const auto file = skills_dir() / "open_news.json";
  EXPECT_EQ(records(),
            (std::vector<std::string>{"info: Saved skill to " + file.string(),
                                      "info: Hot-loaded skill open_news into live registry"}));
  EXPECT_EQ(read_text(file), R"({
  "name": "open_news",
  "description": "\u00d6ffne die Nachrichten",
  "app": "browser",
  "category": "productivity",
  "triggers": [
    "news"
  ],
  "required_params": [
    "url"
  ],
  "optional_params": [],
  "dynamic": true,
  "version": 1,
  "reason": "User reads news daily",
  "steps": [
    {
      "operation": "open_url",
      "description": "Open {{url}}",
      "params": {
        "url": "{{url}}"
      }
    },
    {
      "operation": "screenshot",
      "description": "Look",
      "wait_after": 2.5
    }
  ]
})");
  EXPECT_EQ(creator.get_improvement_log(), std::vector<json>{json({
                                               {"timestamp", "2025-03-10 05:59:30"},
                                               {"action", "created"},
                                               {"skill_name", "open_news"},
                                               {"reason", "User reads news daily"},
                                               {"details",
                                                {{"version", 1},
                                                 {"steps", 2},
                                                 {"category", "productivity"},
                                                 {"app", "browser"},
                                                 {"triggers", {"news"}}}},
                                               {"success", true},
                                           })});

  logs.clear();
  input.erase("reason");
  const auto again = creator.create_from_dict(input);  // no registry this time
  EXPECT_TRUE(again.success);
  EXPECT_EQ(again.message,
            "Updated skill 'open_news' v2 (2 steps, category: productivity). It's now available "
            "for use.");
  EXPECT_EQ(records(), (std::vector<std::string>{"info: Updating existing skill open_news to v2",
                                                 "info: Saved skill to " + file.string()}));
  EXPECT_EQ(registry.registered.size(), 1u);
  const auto last = creator.get_improvement_log(1)[0];
  EXPECT_EQ(last["action"], "updated");
  EXPECT_EQ(last["reason"], "Agent decided to create this skill");
  EXPECT_EQ(last["details"]["version"], 2);
  EXPECT_EQ(json::parse(read_text(file))["version"], 2);
  EXPECT_EQ(log_on_disk().size(), 2u);
}

TEST_F(CreatorTest, AnUnreadableEarlierSkillIsReplacedSilentlyAtVersionOne) {
  SkillCreator creator(data);
  const auto file = skills_dir() / "open_news.json";
  for (const std::string stored :
       {"{broken", "[1, 2]", R"({"version": "2"})", R"({"version": 9223372036854775807})"}) {
    write_text(file, stored);
    logs.clear();
    const auto result = creator.create_from_dict(simple_skill());
    EXPECT_TRUE(result.success) << stored;
    EXPECT_EQ(result.message.substr(0, 30), "Created skill 'open_news' v1 (") << stored;
    EXPECT_EQ(records(), std::vector<std::string>{"info: Saved skill to " + file.string()});
    EXPECT_EQ(json::parse(read_text(file))["version"], 1) << stored;
  }
  // Versions written as floats still count, by their whole part.
  write_text(file, R"({"version": 4.0})");
  EXPECT_EQ(creator.create_from_dict(simple_skill()).message.substr(0, 30),
            "Updated skill 'open_news' v5 (");
  write_text(file, R"({"version": 2.5})");
  EXPECT_EQ(creator.create_from_dict(simple_skill()).message.substr(0, 30),
            "Updated skill 'open_news' v3 (");
}

TEST_F(CreatorTest, ARegistryThatThrowsLeavesTheFileButNoLogEntry) {
  SkillCreator creator(data);
  RecordingRegistry registry;
  registry.refuse = true;
  const auto result = creator.create_from_dict(simple_skill(), &registry);
  EXPECT_FALSE(result.success);
  EXPECT_EQ(result.message, "Invalid skill data: registry is closed");
  EXPECT_EQ(result.skill, nullptr);
  EXPECT_TRUE(fs::exists(skills_dir() / "open_news.json"));
  EXPECT_TRUE(creator.get_improvement_log().empty());

  SkillBlueprint blueprint{.name = "b",
                           .description = "d",
                           .app = "a",
                           .triggers = {"t"},
                           .steps = {{{"operation", "screenshot"}, {"description", "d"}}}};
  EXPECT_THROW(creator.create_skill(blueprint, &registry), std::runtime_error);
}

TEST_F(CreatorTest, CreateFromDictAnswersBadInputWithMessagesAndWritesNothing) {
  SkillCreator creator(data);
  const std::vector<std::pair<json, std::string>> cases = {
      {json::object(),
       "Validation failed:\n  - Skill name is required\n  - Description is required\n  - App "
       "name is required\n  - At least one trigger keyword is required\n  - At least one step "
       "is required"},
      {{{"name", "x"},
        {"description", "d"},
        {"app", "a"},
        {"triggers", {"t"}},
        {"steps", {"click the button"}}},
       "Invalid skill data: Step 1 must be an object, not text"},
      {{{"name", 5}}, "Invalid skill data: 'name' must be text, not number"},
      {{{"name", "x"}, {"triggers", "t"}},
       "Validation failed:\n  - Description is required\n  - App name is required\n  - At least "
       "one step is required"},
      {{{"name", "x"}, {"steps", {{"k", "v"}}}},
       "Invalid skill data: 'steps' must be a list, not "
       "object"},
      {json::array({1}), "Invalid skill data: the skill must be an object, not list"},
  };
  for (const auto& [input, message] : cases) {
    const auto result = creator.create_from_dict(input);
    EXPECT_FALSE(result.success);
    EXPECT_EQ(result.message, message);
    EXPECT_EQ(result.skill, nullptr);
  }
  EXPECT_TRUE(fs::is_empty(skills_dir()));
  EXPECT_FALSE(fs::exists(log_file()));
  EXPECT_TRUE(records().empty());

  // Only "python" exactly takes the script path.
  for (const char* type : {"Python", "simple", "other"}) {
    json input = simple_skill(std::string("kind_") + type);
    input["type"] = type;
    EXPECT_NE(creator.create_from_dict(input).skill, nullptr) << type;
  }
}

TEST_F(CreatorTest, LoadingSkipsBadFilesWithAWarningAndTakesMetadataAsStepLessSkills) {
  SkillCreator creator(data);
  ASSERT_TRUE(creator.create_from_dict(simple_skill("a_first")).success);
  write_text(skills_dir() / "b_broken.json", "{\"name\": ");
  write_text(skills_dir() / "c_script.json",
             R"({"name": "c_script", "type": "python", "description": "d", "app": "python",
                 "category": "media", "triggers": [], "script": "c_script.py", "version": 3})");
  write_text(skills_dir() / "d_nameless.json", R"({"description": "no name"})");
  std::string deep = R"({"steps": [)" + std::string(100000, '[') + std::string(100000, ']') + "]}";
  write_text(skills_dir() / "e_deep.json", deep);
  write_text(skills_dir() / "f_typed.json", R"({"required_params": "t"})");
  write_text(skills_dir() / "notes.txt", "not a skill");
  logs.clear();

  const auto skills = creator.load_saved_skills();
  ASSERT_EQ(skills.size(), 3u);
  EXPECT_EQ(skills[0]->name, "a_first");
  EXPECT_EQ(skills[0]->build_steps({{"url", "u"}})[0].description, "Open u");
  EXPECT_EQ(skills[1]->name, "c_script");
  EXPECT_EQ(skills[1]->category, "media");
  EXPECT_TRUE(skills[1]->build_steps().empty());
  EXPECT_EQ(skills[2]->name, "d_nameless");
  EXPECT_EQ(skills[2]->category, "custom");
  const auto r = records();
  ASSERT_EQ(r.size(), 6u);
  EXPECT_EQ(r[0], "info: Loaded saved skill: a_first v1");
  EXPECT_EQ(r[1].rfind("warning: Failed to load skill from " +
                           (skills_dir() / "b_broken.json").string() + ": [json.exception",
                       0),
            0u)
      << r[1];
  EXPECT_EQ(r[2], "info: Loaded saved skill: c_script v3");
  EXPECT_EQ(r[3], "info: Loaded saved skill: d_nameless v1");
  EXPECT_EQ(r[4], "warning: Failed to load skill from " + (skills_dir() / "e_deep.json").string() +
                      ": JSON nested more than 512 levels deep");
  EXPECT_EQ(r[5], "warning: Failed to load skill from " + (skills_dir() / "f_typed.json").string() +
                      ": 'required_params' must be a list of texts, not text");

  RecordingRegistry registry;
  EXPECT_EQ(creator.load_into_registry(registry), 3u);
  EXPECT_EQ(registry.registered, (std::vector<std::string>{"a_first", "c_script", "d_nameless"}));
  registry.refuse = true;
  EXPECT_THROW(creator.load_into_registry(registry), std::runtime_error);

  // Listing shows what loading loads, the files it skips left out without a word.
  logs.clear();
  const auto listed = creator.list_saved_skills();
  EXPECT_TRUE(records().empty());
  ASSERT_EQ(listed.size(), 3u);
  EXPECT_EQ(listed[0].dump(), json({{"name", "a_first"},
                                    {"description", "Open a news site"},
                                    {"app", "browser"},
                                    {"category", "productivity"},
                                    {"version", 1},
                                    {"triggers", {"news"}},
                                    {"steps_count", 2},
                                    {"reason", "User reads news daily"},
                                    {"file", (skills_dir() / "a_first.json").string()}})
                                  .dump());
  EXPECT_EQ(listed[1]["steps_count"], 0);
  EXPECT_EQ(listed[1]["version"], 3);
  EXPECT_EQ(listed[2]["name"], "d_nameless");

  EXPECT_EQ(creator.get_skill_source("a_first").value()["dynamic"], true);
  write_text(skills_dir() / "list.json", "[1]");
  for (const char* name : {"b_broken", "list", "e_deep", "missing"})
    EXPECT_EQ(creator.get_skill_source(name), std::nullopt) << name;
}

TEST_F(CreatorTest, DeletingRemovesTheFileAndRegistryEntryAndStatsFollow) {
  SkillCreator creator(data);
  fs::remove(skills_dir());
  EXPECT_EQ(creator.get_improvement_stats().dump(),
            R"({"total_improvements":0,"skills_created":0,"skills_updated":0,"skills_deleted":0,)"
            R"("learnings_recorded":0,"active_custom_skills":0,"categories_covered":[]})");
  fs::create_directories(skills_dir());

  RecordingRegistry registry;
  EXPECT_EQ(creator.delete_skill("open_news").message, "Skill 'open_news' not found");
  fs::create_directories(skills_dir() / "folder.json");
  EXPECT_EQ(creator.delete_skill("folder").message, "Failed to delete: cannot remove '" +
                                                        (skills_dir() / "folder.json").string() +
                                                        "': Is a directory");
  EXPECT_TRUE(fs::is_directory(skills_dir() / "folder.json"));
  fs::remove(skills_dir() / "folder.json");
  creator.create_from_dict(simple_skill(), &registry);
  creator.create_from_dict(simple_skill(), &registry);
  json other = simple_skill("other");
  other["category"] = "media";
  creator.create_from_dict(other);
  json twin = simple_skill("twin");
  creator.create_from_dict(twin);
  auto stats = creator.get_improvement_stats();
  EXPECT_EQ(stats["active_custom_skills"], 3);
  EXPECT_EQ(stats["categories_covered"], json({"productivity", "media"}));  // once each

  const auto [ok, message] = creator.delete_skill("open_news", &registry);
  EXPECT_TRUE(ok);
  EXPECT_EQ(message, "Deleted skill 'open_news'");
  EXPECT_FALSE(fs::exists(skills_dir() / "open_news.json"));
  EXPECT_TRUE(registry._skills.empty());
  EXPECT_EQ(creator.get_improvement_log(1)[0]["reason"], "Skill deleted by agent or user");
  EXPECT_EQ(creator.get_improvement_log(1)[0]["details"], json::object());
  stats = creator.get_improvement_stats();
  EXPECT_EQ(stats["total_improvements"], 5);
  EXPECT_EQ(stats["skills_created"], 3);
  EXPECT_EQ(stats["skills_updated"], 1);
  EXPECT_EQ(stats["skills_deleted"], 1);
  EXPECT_EQ(stats["active_custom_skills"], 2);
}

TEST_F(CreatorTest, NamesThatCouldLeaveTheSkillsDirectoryAreRefusedAndTouchNothing) {
  SkillCreator creator(data);
  const std::string secret = R"({"secret": true})";
  write_text(data / "secret.json", secret);
  write_text(root / "secret.json", secret);
  write_text(skills_dir() / "a", "not a skill file");
  write_text(skills_dir() / "...json", secret);
  const std::vector<std::string> names = {
      "../secret",        "../../secret", (root / "secret").string(), "..", "",
      "sub/../../secret", "..\\secret",   std::string("a\0b", 3)};
  for (const auto& name : names) {
    EXPECT_EQ(creator.delete_skill(name).message, "Invalid skill name: " + name) << name;
    EXPECT_EQ(creator.get_skill_source(name), std::nullopt) << name;
  }
  EXPECT_EQ(read_text(data / "secret.json"), secret);
  EXPECT_EQ(read_text(root / "secret.json"), secret);
  EXPECT_EQ(read_text(skills_dir() / "a"), "not a skill file");
  EXPECT_EQ(read_text(skills_dir() / "...json"), secret);
  EXPECT_TRUE(creator.get_improvement_log().empty());
  EXPECT_FALSE(fs::exists(log_file()));
}

TEST_F(CreatorTest, TheProcessWideCreatorIsMadeOnceInTheHomeDirectory) {
  const std::string old_home = getenv("HOME") ? getenv("HOME") : "";
  set_env("HOME", root.string());
  write_text(root / ".orvane" / "improvement_log.json", "[{}]");
  SkillCreator& first = get_skill_creator();
  SkillCreator& second = get_skill_creator();
  set_env("HOME", old_home);
  EXPECT_EQ(&first, &second);
  EXPECT_EQ(first.SKILLS_DIR, root / ".orvane" / "skills");
  EXPECT_TRUE(fs::is_directory(root / ".orvane" / "skills"));
  std::size_t load_warnings = 0;
  for (const auto& r : records()) load_warnings += r.rfind("warning: Failed to load", 0) == 0;
  EXPECT_EQ(load_warnings, 1u);
}

}  // namespace
}  // namespace orvane::skills::testing
