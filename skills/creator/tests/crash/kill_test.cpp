// A creator killed at random moments while it creates, updates and deletes skills and logs
// learnings: every next start loads each skill file and the improvement log without a failure,
// with every change the killed process acknowledged.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <iostream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "orvane/host/log.hpp"
#include "orvane/skills/creator.hpp"
#include "support/killed_child.hpp"

namespace {

namespace fs = std::filesystem;

struct Stored {
  std::map<std::string, std::pair<std::int64_t, std::string>> skills;  // name -> version, reason
  std::vector<std::string> log;  // "action skill_name reason" per entry

  bool operator==(const Stored&) const = default;
};

struct Change {
  std::string verb, name, value;

  Stored applied_to(Stored stored) const {
    if (verb == "delete") {
      stored.skills.erase(name);
      stored.log.push_back("deleted " + name + " Skill deleted by agent or user");
    } else if (verb == "learn") {
      stored.log.push_back("learned " + name + " " + value);
    } else {  // create, script
      const auto old = stored.skills.find(name);
      const std::int64_t version = old == stored.skills.end() ? 1 : old->second.first + 1;
      stored.skills[name] = {version, value};
      stored.log.push_back((version == 1 ? "created " : "updated ") + name + " " + value);
    }
    return stored;
  }
};

Change parse(const std::string& line) {
  Change change;
  std::istringstream(line) >> change.verb >> change.name >> change.value;
  return change;
}

// What a fresh creator loads; fails the test when loading logs a warning or worse.
Stored load(const fs::path& data_dir) {
  orvane::host::LogCapture logs;
  orvane::skills::SkillCreator creator(data_dir);
  const auto skills = creator.load_saved_skills();
  for (const auto& record : logs.records("orvane.skills.creator")) {
    EXPECT_LE(record.level, spdlog::level::info) << record.message;
  }
  Stored stored;
  for (const auto& entry : creator.list_saved_skills()) {
    stored.skills[entry["name"]] = {entry["version"], entry["reason"]};
  }
  EXPECT_EQ(stored.skills.size(), skills.size());
  for (const auto& entry : creator.get_improvement_log(0)) {
    stored.log.push_back(entry["action"].get<std::string>() + " " +
                         entry["skill_name"].get<std::string>() + " " +
                         entry["reason"].get<std::string>());
  }
  return stored;
}

std::string describe(const Stored& stored) {
  std::string text = "skills:";
  for (const auto& [name, kept] : stored.skills) {
    text += " " + name + " v" + std::to_string(kept.first) + " " + kept.second;
  }
  text += "\nlog:";
  for (const auto& entry : stored.log) text += "\n  " + entry;
  return text;
}

}  // namespace

TEST(KilledCreator, EveryStartLoadsEverySkillAndTheLogWithEveryAcknowledgedChange) {
  const int rounds = orvane::testing::kill_rounds(KILL_ROUNDS);
  const auto seed = orvane::testing::kill_seed();
  std::cout << "ORVANE_KILL_SEED=" << seed << ", " << rounds << " kills\n";
  std::mt19937_64 random(seed);
  char pattern[] = "/tmp/creator-kill-XXXXXX";
  const fs::path root = ::mkdtemp(pattern);
  const auto data_dir = root / "data";

  Stored stored;
  int acknowledged = 0, in_flight_kept = 0, in_flight_lost = 0;
  for (int round = 0; round < rounds; ++round) {
    if (round % 50 == 0) {  // from nothing now and then, so that the log stays small
      fs::remove_all(data_dir);
      stored = {};
    }
    const std::chrono::microseconds run_for(random() % 15000);
    const auto run =
        orvane::testing::run_and_kill({CREATOR_KILL_CHILD, data_dir.string(),
                                       std::to_string(random()), "r" + std::to_string(round)},
                                      "ready", run_for);
    ASSERT_TRUE(run.killed) << "the child ended on its own in round " << round << ": "
                            << (run.lines.empty() ? "" : run.lines.back());

    std::optional<Change> pending;
    for (const auto& line : run.lines) {
      if (line != "ok") {
        pending = parse(line);
        continue;
      }
      ASSERT_TRUE(pending) << "an ok without a call";
      stored = pending->applied_to(stored);
      pending.reset();
      ++acknowledged;
    }

    // The call under way may have changed the skill files, the log, both or neither.
    const auto loaded = load(data_dir);
    const auto after = pending ? pending->applied_to(stored) : stored;
    const bool skills_ok = loaded.skills == stored.skills || loaded.skills == after.skills;
    const bool log_ok = loaded.log == stored.log || loaded.log == after.log;
    ASSERT_TRUE(skills_ok && log_ok)
        << "round " << round << ", killed " << run_for.count() << " us after start, during '"
        << (pending ? pending->verb + " " + pending->name : "nothing") << "'\nexpected "
        << describe(stored) << "\nloaded " << describe(loaded);
    if (pending) ++(loaded == stored ? in_flight_lost : in_flight_kept);
    stored = loaded;
    for (const auto& entry : fs::recursive_directory_iterator(data_dir)) {
      ASSERT_EQ(entry.path().filename().string().find(".corrupt-"), std::string::npos)
          << "round " << round;
    }
  }
  std::cout << rounds << " kills, " << acknowledged
            << " acknowledged changes; the change under way "
            << "was (partly) kept " << in_flight_kept << " times, not yet made " << in_flight_lost
            << " times\n";
  fs::remove_all(root);
}
