// The schedule commands and the command line itself, run as a user runs them.
#include <gtest/gtest.h>
#include <signal.h>

#include <ctime>
#include <fstream>
#include <functional>

#include "support/orvane_fixture.hpp"

namespace orvane::app::testing {
namespace {

struct Case {
  std::vector<std::string> args;
  int exit_code;
  std::string text;  // what stderr holds (stdout when the exit code is 0)
};

void expect_cases(const std::vector<Case>& cases, const std::function<Outcome(Case)>& run) {
  for (const auto& c : cases) {
    std::string shown;
    for (const auto& a : c.args) shown += a + " ";
    SCOPED_TRACE(shown);
    const Outcome outcome = run(c);
    EXPECT_EQ(outcome.exit_code, c.exit_code);
    const std::string& text = c.exit_code == 0 ? outcome.out : outcome.err;
    EXPECT_NE(text.find(c.text), std::string::npos) << outcome.out << outcome.err;
  }
}

Json execution(const std::string& job_id, double started_at, const std::string& result) {
  return {{"job_id", job_id}, {"job_name", "old"}, {"started_at", started_at},
          {"success", true},  {"result", result},  {"error", ""}};
}

TEST_F(Cli, HistoryOutlivesLaterCommandsAndSurvivesTornLinesAndRotation) {
  char minute[32];
  const std::time_t now = std::time(nullptr);
  std::strftime(minute, sizeof minute, "%Y-%m-%d %H:%M", std::localtime(&now));
  const Json job =
      orvane_json({"schedule", "add", "--at", minute, "--name", "due", "--prompt", "p"});
  // What runs before the history file left in the state file is kept by the next change.
  Json state = Json::parse(read_text(data / "scheduler.json"));
  state["executions"] = {execution("s", 10, "from the state file")};
  write_text(data / "scheduler.json", state.dump());
  orvane_json({"schedule", "add", "--every", "60", "--name", "later", "--prompt", "p"});
  // A full file (its last line torn by a killed writer) is rotated before the next line.
  const std::string history = (data / "schedule_history.jsonl").string();
  std::ofstream(history, std::ios::app)
      << execution("b", 20, std::string(4 << 20, 'x')).dump() << "\n{\"job_id\": \"torn";
  write_text(history + ".1", execution("a", 5, "rotated out").dump() + "\n");

  const EnvChanges env{{"HOME", (root / "home").string()},
                       {"ORVANE_LLM_URL", std::nullopt},
                       {"ORVANE_LOG_LEVEL", std::nullopt}};
  Child run({ORVANE_BINARY, "--data-dir", data.string(), "schedule", "run"}, env);
  ASSERT_TRUE(run.wait_for_output("completed due")) << run.out();
  const Json stats = orvane_json({"schedule", "stats"});
  ASSERT_TRUE(stats["scheduler_process"].is_object()) << stats;
  EXPECT_EQ(stats["running"], false);  // the library's own member: this process runs none
  const std::string pid = std::to_string(stats["scheduler_process"]["pid"].get<long>());
  EXPECT_NE(orvane({"schedule", "stats"}).out.find("running: true (process " + pid + ", started "),
            std::string::npos);
  run.signal(SIGTERM);
  EXPECT_EQ(run.finish().exit_code, 0);
  EXPECT_TRUE(orvane_json({"schedule", "stats"})["scheduler_process"].is_null());

  // An execution only the state file holds (a run stopped before it reported it), with a number
  // as Python writes one that is not finite, is kept though the history file exists.
  state = Json::parse(read_text(data / "scheduler.json"));
  state["executions"] = {execution("k", 30, "saved only")};
  std::string saved = state.dump();
  saved.replace(saved.find("\"error\":\"\""), 10, "\"error\":\"\",\"duration\":NaN");
  write_text(data / "scheduler.json", saved);
  orvane_json({"schedule", "remove", "later"});
  const Json runs = orvane_json({"schedule", "history", "--limit", "0"});
  ASSERT_EQ(runs.size(), 4u) << runs.dump().substr(0, 500);
  EXPECT_EQ(runs[0]["job_id"], "s");
  EXPECT_EQ(runs[1]["job_id"], "b");
  EXPECT_EQ(runs[2]["job_id"], "k");
  EXPECT_EQ(runs[3]["job_id"], job["id"]);
  EXPECT_EQ(runs[3]["result"], "Completed");
  EXPECT_EQ(read_text(history + ".1").find("rotated out"), std::string::npos);
}

TEST_F(Cli, OutOfRangeNumbersAndBadSchedulesAreUsageErrorsInPlainWords) {
  const std::vector<std::string> add = {"schedule", "add", "--name", "n", "--prompt", "p"};
  const auto with = [&](std::vector<std::string> args) {
    args.insert(args.begin(), add.begin(), add.end());
    return args;
  };
  const std::string every = "--every must be a whole number of seconds from 1 to 3155760000, ";
  expect_cases(
      {
          {with({"--every", "0"}), 2, every + "not '0'"},
          {with({"--every", "abc"}), 2, every + "not 'abc'"},
          {with({"--every", "99999999999999999999"}), 2, every + "not '99999999999999999999'"},
          {with({"--every", "3155760001"}), 2, every + "not '3155760001'"},
          {with({"--every", "1.5"}), 2, every + "not '1.5'"},
          {with({"--every", "5", "--max-runs", "-1"}), 2,
           "--max-runs must be a whole number, 0 or more, not '-1'"},
          {{"schedule", "history", "--limit", "-1"}, 2, "--limit must be a whole number, 0 or"},
          {with({"--cron", "every day"}), 2, "invalid cron expression 'every day': "},
          {with({"--every", "3155760000"}), 0, "(every 3155760000s), next run: 2"},
      },
      [&](const Case& c) { return orvane(c.args); });
}

TEST_F(Cli, JobsAreNamedByIdPrefixOrNameWhenThatIsUnambiguous) {
  for (const char* name : {"news", "mail", "dup", "dup"}) {
    orvane_json({"schedule", "add", "--every", "60", "--name", name, "--prompt", "p"});
  }
  // Ids of our choosing, two sharing a prefix.
  Json state = Json::parse(read_text(data / "scheduler.json"));
  Json jobs = Json::object();
  const char* ids[] = {"abcd111111", "abcd222222", "ffff000000", "eeee000000"};
  int i = 0;
  for (const auto& [key, job] : state["jobs"].items()) {
    jobs[ids[i]] = job;
    jobs[ids[i]]["id"] = ids[i];
    ++i;
  }
  state["jobs"] = jobs;
  write_text(data / "scheduler.json", state.dump());
  expect_cases(
      {
          {{"schedule", "pause", "abcd1"}, 0, "Paused job abcd111111"},
          {{"schedule", "resume", "mail"}, 0, "Resumed job abcd222222"},
          {{"schedule", "history", "--job", "news"}, 0, "No executions recorded."},
          {{"schedule", "pause", "abc"}, 1, "no job with id, id prefix or name 'abc'"},
          {{"schedule", "pause", "abcd"},
           1,
           "'abcd' is ambiguous: it names 2 jobs: abcd111111 \"news\", abcd222222 \"mail\""},
          {{"schedule", "remove", "dup"}, 1, "ffff000000 \"dup\", eeee000000 \"dup\""},
          {{"schedule", "remove", "eeee000000"}, 0, "Removed job eeee000000"},
          {{"schedule", "remove", "dup"}, 0, "Removed job ffff000000"},
      },
      [&](const Case& c) { return orvane(c.args); });
}

TEST_F(Cli, WhatAFileOrAUserWroteCannotSteerTheTerminal) {
  orvane_json({"schedule", "add", "--every", "60", "--name", "\x1b[2J\xc2\x9b\xe2\x80\xaename",
               "--prompt", "p"});
  const Outcome list = orvane({"schedule", "list"});
  EXPECT_EQ(list.out.find('\x1b'), std::string::npos);
  EXPECT_NE(list.out.find("\\e[2J\\u009b\\u202ename"), std::string::npos) << list.out;

  write_text(data / "scheduler.json", "{\"jobs\": ");
  const Outcome corrupt = orvane({"schedule", "list"});
  EXPECT_EQ(corrupt.exit_code, 0);
  EXPECT_EQ(corrupt.out, "No scheduled jobs.\n");
  EXPECT_NE(corrupt.err.find("orvane: warning: " + (data / "scheduler.json").string() +
                             " could not be read; it was set aside as " +
                             (data / "scheduler.json").string() + ".corrupt-"),
            std::string::npos)
      << corrupt.err;
}

TEST_F(Cli, TheCommandLineNamesWhatWasMeantAndEveryUsageErrorExitsTwo) {
  const std::string a_file = (root / "plain").string();
  write_text(a_file, "x");
  expect_cases(
      {
          {{"schedule", "hist"},
           2,
           "orvane: unknown command 'hist' \u2014 did you mean 'history'?\n"},
          {{"schedlue", "list"}, 2, "unknown command 'schedlue' \u2014 did you mean 'schedule'?"},
          {{"schedule", "list", "--jsn"},
           2,
           "unknown option '--jsn' \u2014 did you mean '--json'?"},
          {{"schedule", "list", "extra"}, 2, "unexpected argument 'extra'"},
          {{"schedule"}, 2, "orvane schedule needs a command: add, list, history, stats, pause"},
          {{"--data-dir", "", "schedule", "list"}, 2, "orvane: --data-dir is empty"},
          {{"--data-dir", a_file, "schedule", "list"}, 2, a_file + " is not a directory"},
          {{"--data-dir", a_file + "/d", "skill", "list"},
           2,
           "cannot be made: " + a_file + " is not a directory"},
          {{"--version"}, 0, "orvane 0.1.0\n"},
      },
      [&](const Case& c) { return orvane(c.args); });
}

}  // namespace
}  // namespace orvane::app::testing
