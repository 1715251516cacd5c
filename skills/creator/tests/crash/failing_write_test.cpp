// Writes that cannot be made (a full disk, a read-only directory or file system): each operation
// answers as it does for any write failure, and every file keeps its previous bytes. Where files
// can only be rewritten in place, each holds its new content whole or the old, never a part.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <functional>
#include <iostream>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "orvane/host/clock.hpp"
#include "orvane/host/log.hpp"
#include "orvane/skills/creator.hpp"
#include "support/failing_storage.hpp"

namespace {

namespace fs = std::filesystem;
using json = nlohmann::ordered_json;
using orvane::skills::SkillCreator;
using Files = std::map<std::string, std::string>;
using Answer = std::optional<std::pair<bool, std::string>>;  // success and message, if any

const std::string BIG(5000, 'b');  // more than a page: a full disk has no room for it
const std::string LOG = "improvement_log.json";

json simple_skill(const std::string& name, const std::string& description) {
  return {{"name", name},
          {"description", description},
          {"app", "browser"},
          {"triggers", {"news"}},
          {"steps", {{{"operation", "screenshot"}, {"description", "Look"}}}}};
}

// A skill to update and one to delete; the log holds their two entries.
void set_up(SkillCreator& creator) {
  creator.create_from_dict(simple_skill("kept", "Kept"));
  creator.create_from_dict(simple_skill("gone", "Gone"));
}

template <class Result>
Answer answer(const Result& result) {
  return std::make_pair(result.success, result.message);
}

struct Operation {
  const char* name;
  std::function<Answer(SkillCreator&)> run;
  // The files it writes or removes, in order, with the start of the message when that fails.
  std::vector<std::pair<std::string, std::string>> writes;
  // What happens to its first file (the log for log_learning) under each trouble, in the order
  // of ALL_TROUBLES: 'F' the change fails, 'S' it is made.
  const char* changes;
};

const Operation OPERATIONS[] = {
    {"create a skill",
     [](SkillCreator& c) { return answer(c.create_from_dict(simple_skill("fresh", BIG))); },
     {{"skills/fresh.json", "Failed to save skill: "}},
     "FFFFF"},
    {"update a skill",
     [](SkillCreator& c) { return answer(c.create_from_dict(simple_skill("kept", BIG))); },
     {{"skills/kept.json", "Failed to save skill: "}},
     "FFSFF"},
    {"create a script skill",
     [](SkillCreator& c) {
       return answer(
           c.create_from_dict({{"type", "python"},
                               {"name", "script"},
                               {"description", "Script"},
                               {"code", "async def run(ctx, params):\n    return {}\n"}}));
     },
     {{"skills/script.py", "Failed to save script: "},
      {"skills/script.json", "Failed to save metadata: "}},
     "FFFFF"},
    {"delete a skill",
     [](SkillCreator& c) { return answer(c.delete_skill("gone")); },
     {{"skills/gone.json", "Failed to delete: "}},
     "SFFFF"},
    {"log a learning",
     [](SkillCreator& c) {
       c.log_learning("kept", BIG);
       return Answer();
     },
     {},
     "FFSFF"},
};

std::optional<std::string> file_in(const Files& files, const std::string& name) {
  const auto it = files.find(name);
  return it == files.end() ? std::nullopt : std::optional(it->second);
}

}  // namespace

TEST(FailingWrite, OperationsAnswerTheFailureAndEveryFileIsOldOrNewNeverTorn) {
  setenv("TZ", "UTC", 1);
  tzset();
  orvane::host::set_clock(std::make_shared<orvane::host::VirtualClock>(1741586370.0));
  for (const auto& operation : OPERATIONS) {
    // What the operation leaves where nothing stands in its way.
    Files written;
    {
      orvane::testing::SmallDisk healthy;
      SkillCreator creator(healthy.path);
      set_up(creator);
      const auto result = operation.run(creator);
      ASSERT_TRUE(!result || result->first) << result->second;
      written = orvane::testing::snapshot(healthy.path);
    }
    for (std::size_t t = 0; t < std::size(orvane::testing::ALL_TROUBLES); ++t) {
      const auto trouble = orvane::testing::ALL_TROUBLES[t];
      SCOPED_TRACE(std::string(operation.name) + ", " + to_string(trouble));
      orvane::testing::SmallDisk disk;
      SkillCreator creator(disk.path);
      set_up(creator);
      const auto before = orvane::testing::snapshot(disk.path);
      if (!disk.begin(trouble, {disk.path, disk.path / "skills"})) {
        std::cout << "not here: " << to_string(trouble) << "\n";
        continue;
      }
      orvane::host::LogCapture logs;
      const auto result = operation.run(creator);
      disk.end();
      const auto after = orvane::testing::snapshot(disk.path);

      // Every file is as it was or as the operation leaves it, nothing else is left behind.
      std::map<std::string, bool> made;
      for (const auto& files : {before, written, after}) {
        for (const auto& [name, bytes] : files) {
          const auto now = file_in(after, name);
          made[name] = now == file_in(written, name);
          EXPECT_TRUE(made[name] || now == file_in(before, name)) << name << " is torn or new";
        }
      }
      // The first change that failed is the one the answer names; nothing after it is made.
      bool failed = false;
      for (const auto& [name, message] : operation.writes) {
        if (failed) {
          EXPECT_FALSE(made[name]) << name;
        } else if (!made[name]) {
          failed = true;
          ASSERT_TRUE(result);
          EXPECT_FALSE(result->first);
          EXPECT_TRUE(result->second.starts_with(message)) << result->second;
        }
      }
      if (!failed && result) {
        EXPECT_TRUE(result->first) << result->second;
      }
      const auto& first = operation.writes.empty() ? LOG : operation.writes.front().first;
      EXPECT_EQ(made[first], operation.changes[t] == 'S') << first;
      // The log: written, or kept in memory with a warning; nothing at all after a failure.
      std::vector<std::string> warnings;
      for (const auto& record : logs.records("orvane.skills.creator")) {
        if (record.level >= spdlog::level::warn) warnings.push_back(record.message);
      }
      if (failed || made[LOG]) {
        EXPECT_EQ(warnings, std::vector<std::string>{});
        EXPECT_EQ(made[LOG], !failed);
      } else {
        ASSERT_EQ(warnings.size(), 1u);
        EXPECT_TRUE(warnings[0].starts_with("Failed to save improvement log: ")) << warnings[0];
      }
    }
  }
  orvane::host::set_clock(nullptr);
}
