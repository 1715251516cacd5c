#include <cmath>
#include <limits>

#include "support.hpp"

namespace orvane::skills::testing {
namespace {

json entry(int n) {
  return {{"timestamp", "2025-01-01 00:00:00"},
          {"action", "learned"},
          {"skill_name", "s" + std::to_string(n)},
          {"reason", "r"}};
}

TEST_F(CreatorTest, TheLogRoundTripsThroughItsFile) {
  {
    SkillCreator creator(data);
    EXPECT_TRUE(records().empty());  // no file yet: nothing to say
    creator.log_learning("open_news", "worked well");
    creator.log_learning("open_news", "slow", json{{"seconds", 12.5}});
    // Texts from the host that are not UTF-8 do not stop later saves.
    creator.log_learning("bad\xff", "r\xc3", json{{"k\xfe", {"v\xe2\x82"}}});
    creator.log_learning("after", "still saved");
  }
  EXPECT_TRUE(records().empty());
  EXPECT_EQ(read_text(log_file())
                .rfind(R"([
  {
    "timestamp": "2025-03-10 05:59:30",
    "action": "learned",
    "skill_name": "open_news",
    "reason": "worked well",
    "details": {},
    "success": true
  },
  {
    "timestamp")",
                       0),
            0u);
  SkillCreator reloaded(data);
  const auto entries = reloaded.get_improvement_log();
  ASSERT_EQ(entries.size(), 4u);
  EXPECT_EQ(entries[1]["details"], json({{"seconds", 12.5}}));
  EXPECT_EQ(entries[2]["skill_name"], "bad\ufffd");
  EXPECT_EQ(entries[2]["details"], json({{"k\ufffd", {"v\ufffd"}}}));
  EXPECT_EQ(entries[3]["skill_name"], "after");

  // Missing "details" and "success" take their defaults; present values are kept as they are.
  json file = json::array({entry(1), entry(2)});
  file[1]["success"] = "yes";
  file[1]["details"] = nullptr;
  write_text(log_file(), file.dump());
  SkillCreator defaults(data);
  EXPECT_EQ(defaults.get_improvement_log()[0]["details"], json::object());
  EXPECT_EQ(defaults.get_improvement_log()[0]["success"], true);
  EXPECT_EQ(defaults.get_improvement_log()[1]["success"], "yes");
  EXPECT_EQ(defaults.get_improvement_log()[1]["details"], nullptr);
}

TEST_F(CreatorTest, ALogThatFailsToLoadIsSetAsideAndTheLogStartsEmpty) {
  const fs::path aside = data / "improvement_log.json.corrupt-20250310-055930";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {R"([{"timestamp": "t", "action": "a", "skill_name": "s", "reason": "r", "note": 1}])",
       "entry 1 has an unknown key 'note'"},
      {R"([{"timestamp": "t", "action": "a", "skill_name": "s"}])", "entry 1 lacks 'reason'"},
      {"[1]", "entry 1 is number, not an object"},
      {"{}", "the file holds object, not a list"},
  };
  std::string suffix;
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const auto& [text, error] = cases[i];
    write_text(log_file(), text);
    logs.clear();
    SkillCreator creator(data);
    const auto target = aside.string() + suffix;
    EXPECT_EQ(records(), (std::vector<std::string>{
                             "warning: Failed to load improvement log: " + error,
                             "warning: Unreadable improvement log set aside as " + target}));
    EXPECT_TRUE(creator.get_improvement_log().empty());
    EXPECT_EQ(read_text(target), text);
    creator.log_learning("s", "r");  // the next save does not touch the set-aside copy
    EXPECT_EQ(log_on_disk().size(), 1u);
    EXPECT_EQ(read_text(target), text);
    fs::remove(log_file());
    suffix = "." + std::to_string(i + 1);
  }
  write_text(log_file(), "not json");
  logs.clear();
  SkillCreator creator(data);
  EXPECT_EQ(records()[0].rfind("warning: Failed to load improvement log: [json.exception", 0), 0u);
}

// Values a host may hand in that a strict reader or writer would choke on later.
TEST_F(CreatorTest, WhatTheCreatorWritesALaterCreatorReadsBack) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  {
    SkillCreator creator(data);
    json blueprint = {{"name", "odd_values"},
                      {"description", "d"},
                      {"app", "a"},
                      {"triggers", {"t"}},
                      {"steps",
                       {{{"operation", "screenshot"},
                         {"description", "look"},
                         {"wait_after", std::numeric_limits<double>::infinity()}}}}};
    ASSERT_TRUE(creator.create_from_dict(blueprint).success);
    creator.log_learning("odd_values", "scored", json{{"score", nan}});
    // A stored file whose name is not UTF-8 is listed and deleted under that name.
    write_text(skills_dir() / "bad\xff.json", "{}");
    const auto listing = creator.list_saved_skills();
    ASSERT_EQ(listing.size(), 2u);
    const auto [deleted, message] = creator.delete_skill(listing[0]["name"].get<std::string>());
    ASSERT_TRUE(deleted) << message;
    creator.log_learning("odd_values", "still saved");
  }
  host::LogCapture log;
  SkillCreator again(data);
  EXPECT_TRUE(log.records("orvane.skills.creator").empty());
  const auto entries = again.get_improvement_log();
  ASSERT_EQ(entries.size(), 4u);
  EXPECT_TRUE(std::isnan(entries[1]["details"]["score"].get<double>()));
  EXPECT_EQ(entries[2]["skill_name"], "bad\ufffd");
  const auto skills = again.load_saved_skills();
  ASSERT_EQ(skills.size(), 1u);
  EXPECT_TRUE(std::isinf(skills[0]->build_steps()[0].wait_after.get<double>()));

  // Null is judged as the empty text it stands for, not refused as the wrong kind.
  const auto null_name = again.create_from_dict({{"name", nullptr}, {"description", nullptr}});
  EXPECT_TRUE(null_name.message.starts_with(
      "Validation failed:\n  - Skill name is required\n  - Description is required\n"))
      << null_name.message;
}

TEST_F(CreatorTest, RecentEntriesAreCutFromTheEndAsAPythonSliceWould) {
  json file = json::array();
  for (int i = 0; i < 120; ++i) file.push_back(entry(i));
  write_text(log_file(), file.dump());
  SkillCreator creator(data);
  const auto first_of = [&](std::int64_t limit) -> std::pair<std::size_t, std::string> {
    const auto entries = creator.get_improvement_log(limit);
    return {entries.size(), entries.empty() ? "" : entries[0]["skill_name"].get<std::string>()};
  };
  using P = std::pair<std::size_t, std::string>;
  EXPECT_EQ(first_of(50), P(50, "s70"));
  EXPECT_EQ(creator.get_improvement_log(), creator.get_improvement_log(50));
  EXPECT_EQ(first_of(200), P(120, "s0"));
  EXPECT_EQ(first_of(0), P(120, "s0"));
  EXPECT_EQ(first_of(-100), P(20, "s100"));
  EXPECT_EQ(first_of(-120), P(0, ""));
  EXPECT_EQ(first_of(std::numeric_limits<std::int64_t>::max()), P(120, "s0"));
  EXPECT_EQ(first_of(std::numeric_limits<std::int64_t>::min()), P(0, ""));
}

}  // namespace
}  // namespace orvane::skills::testing
