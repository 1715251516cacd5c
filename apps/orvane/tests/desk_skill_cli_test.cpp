// The desk, skill and summarize commands on the roads where a user meets their limits.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/orvane_fixture.hpp"
#include "support/sway.hpp"
#include "support/xvfb.hpp"

namespace orvane::app::testing {
namespace {

bool has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

class DeskCli : public Cli {
 protected:
  // `script` run by sh with $O naming the orvane command on the test's data directory.
  Outcome sh(const std::string& script, EnvChanges env = {}) {
    env.emplace("O", std::string(ORVANE_BINARY) + " --data-dir " + data.string());
    env.emplace("HOME", (root / "home").string());
    env.emplace("ORVANE_LLM_URL", std::nullopt);
    env.emplace("ORVANE_LOG_LEVEL", std::nullopt);
    return Child({"/bin/sh", "-c", script}, env).finish();
  }
};

TEST_F(DeskCli, TheDesktopIsTheLibrarysChoiceAndAnUnreachableOneIsAFailure) {
  pc::testing::Sway sway;
  const EnvChanges no_x{{"DISPLAY", std::nullopt}, {"WAYLAND_DISPLAY", sway.socket()}};
  for (const char* forced : {"wayland", ""}) {
    EnvChanges env = no_x;
    env["ORVANE_DESKTOP"] = forced;
    const Outcome info = orvane({"desk", "info", "--json"}, env);
    ASSERT_EQ(info.exit_code, 0) << info.err;
    EXPECT_EQ(Json::parse(info.out)["screen_width"], 2560);  // sway's first output, not a guess
  }
  const EnvChanges nothing{{"DISPLAY", ":77"}, {"WAYLAND_DISPLAY", std::nullopt}};
  for (const char* command : {"info", "tool", "screenshot"}) {
    const Outcome outcome = orvane({"desk", command}, nothing);
    EXPECT_EQ(outcome.exit_code, 1) << command;
    EXPECT_EQ(outcome.err, "orvane: no desktop could be reached: cannot open X display :77\n");
  }
}

class DeskOnXvfb : public DeskCli {
 protected:
  pc::testing::Xvfb xvfb{800, 600};
};

TEST_F(DeskOnXvfb, ScreenshotsAreNamedByTheirPathInTheDataDirectoryOrGoToStandardOutput) {
  const std::string latest = (data / "screenshots" / "latest.png").string();
  EXPECT_EQ(orvane_json({"desk", "screenshot"})["last_screenshot"], latest);
  const Outcome piped = orvane({"desk", "screenshot", "-o", "-"});
  ASSERT_EQ(piped.exit_code, 0) << piped.err;
  EXPECT_EQ(piped.out, read_text(latest));
  EXPECT_TRUE(piped.out.starts_with("\x89PNG"));
  EXPECT_TRUE(has(piped.err, "Saved " + latest + "\n")) << piped.err;
  EXPECT_EQ(orvane({"desk", "do", "screenshot"}).out.substr(0, 10), "image/png,");
  EXPECT_TRUE(has(orvane({"desk", "do", "screenshot"}).out, "saved as " + latest));
}

TEST_F(DeskOnXvfb, KeyNamesNoKeyHasAreWarnedAboutAndTheRestPressQuietly) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {R"({"text": "nosuchkey"})", "nosuchkey"},
      {R"({"text": "ctrl+nosuchkey"})", "nosuchkey"},
      {R"({"text": "Return"})", ""},
      {R"({"text": "ctrl+shift+t"})", ""},
      {R"({"text": "F5"})", ""},
      {R"({"text": "eacute"})", ""},
      {R"({"text": "é"})", ""},
  };
  for (const auto& [params, unknown] : cases) {
    SCOPED_TRACE(params);
    const Outcome pressed = orvane({"desk", "do", "key", params});
    EXPECT_EQ(pressed.exit_code, 0);
    EXPECT_TRUE(pressed.out.starts_with("Pressed: ")) << pressed.out;
    EXPECT_EQ(pressed.err, unknown.empty() ? ""
                                           : "orvane: warning: no key is named '" + unknown +
                                                 "': nothing was pressed for it\n");
  }
  const Outcome held = orvane({"desk", "do", "hold_key", R"({"text": "Nope", "duration": 0})"});
  EXPECT_EQ(held.err, "orvane: warning: no key is named 'nope': nothing was pressed for it\n");
}

TEST_F(DeskOnXvfb, TheListedActionsAreTheExecutorsSixteenWithTheirParameters) {
  const Json listing = orvane_json({"desk", "actions"});
  ASSERT_EQ(listing.size(), 16u);
  for (const Json& action : listing) {
    const std::string name = action["action"];
    SCOPED_TRACE(name);
    // The executor knows the action and refuses a parameter outside the listed ones by name.
    Json params = {{"not_a_parameter", 1}};
    const Outcome outcome = orvane({"desk", "do", name, params.dump()});
    EXPECT_TRUE(has(outcome.err, "got an unexpected keyword argument 'not_a_parameter'"))
        << outcome.err;
    if (name == "left_click_drag") {
      EXPECT_EQ(action["parameters"].size(), 2u);
      EXPECT_TRUE(action["parameters"].contains("start_coordinate"));
    }
  }
}

TEST_F(DeskOnXvfb, TheTourKeepsItsDirectoryOnlyWhenAskedOrWhenACheckFailed) {
  fs::create_directories(root / "tmp");
  const std::vector<std::tuple<std::vector<std::string>, std::string, bool>> cases = {
      {{"tour", "--json"}, xvfb.display_name(), false},
      {{"tour", "--json", "--keep"}, xvfb.display_name(), true},
      {{"tour", "--json"}, ":77", true},  // the desktop checks fail
  };
  for (const auto& [args, display, kept] : cases) {
    SCOPED_TRACE(args.size() == 3 ? "--keep" : display);
    fs::remove_all(root / "tmp");
    fs::create_directories(root / "tmp");
    const Json report =
        Json::parse(orvane(args, {{"TMPDIR", (root / "tmp").string()}, {"DISPLAY", display}}).out);
    EXPECT_EQ(fs::is_empty(root / "tmp"), !kept);
    EXPECT_EQ(report["data_dir"].is_string(), kept);
    if (kept) {
      EXPECT_TRUE(fs::exists(report["data_dir"].get<std::string>()));
    }
  }
}

TEST_F(DeskCli, SkillInputsAreBoundedAndEveryFailureOrDoubtIsSaid) {
  fs::create_directories(root / "dir");
  fs::create_directories(data / "skills");
  write_text(root / "empty.json", "{}");
  struct Case {
    std::string script;
    int exit_code;
    std::string err;  // what stderr holds
  };
  const std::vector<Case> cases = {
      {"$O skill create /dev/zero", 1,
       "/dev/zero holds more than 64 MiB, the most a command reads"},
      {"$O skill create " + (root / "dir").string(), 1, "dir is a directory, not a file"},
      {"$O skill create - < " + (root / "empty.json").string(), 1,
       "Skill name is required (key \"name\"); Description is required (key \"description\"); "
       "App name is required (key \"app\")"},
      {"$O skill example | $O skill create -", 0, ""},
      {"$O skill example script | $O skill create -", 0, ""},
      {"$O skill learn search_web 'Works'", 0, ""},
      {"$O skill learn nope 'Works'", 0, "warning: no saved skill named 'nope'"},
      // Saving the log fails when no file may grow, as on a full disk (root included).
      {"ulimit -f 0 && $O skill learn search_web 'Works'", 1,
       "orvane: Failed to save improvement log: "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.script);
    const Outcome outcome = sh(c.script, {{"D", data.string()}});
    EXPECT_EQ(outcome.exit_code, c.exit_code) << outcome.err;
    EXPECT_TRUE(c.err.empty() ? outcome.err.empty() : has(outcome.err, c.err)) << outcome.err;
  }
  const Json names = orvane_json({"skill", "list"});
  ASSERT_EQ(names.size(), 2u);
  EXPECT_EQ(names[0]["name"], "count_words");
  EXPECT_EQ(orvane_json({"skill", "log", "--limit", "1"})[0]["skill_name"], "nope");
}

TEST_F(DeskCli, SummarizeExitsThreeWhenTheRecordIsTheFallback) {
  const fs::path conversation = root / "conversation.json";
  write_text(conversation, R"([{"role": "user", "content": "Back up ~/notes."}])");
  struct Case {
    std::string script;
    EnvChanges env;
    int exit_code;
    std::string err;
  };
  const std::vector<Case> cases = {
      {"$O summarize - --json < " + conversation.string(),
       {},
       3,
       "orvane: no model configured (ORVANE_LLM_URL is not set): printing the fallback record\n"},
      {"$O summarize " + conversation.string(),
       {{"ORVANE_LLM_URL", "http://127.0.0.1:1/v1"}},
       3,
       "orvane: the model gave no usable summary (Summarization failed: "},
      {"$O summarize " + root.string(), {}, 1, "orvane: " + root.string() + " is a directory"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.script);
    const Outcome outcome = sh(c.script, c.env);
    EXPECT_EQ(outcome.exit_code, c.exit_code);
    EXPECT_TRUE(outcome.err.starts_with(c.err)) << outcome.err;
    EXPECT_EQ(std::count(outcome.err.begin(), outcome.err.end(), '\n'), 1) << outcome.err;
    if (c.exit_code == 3) {
      EXPECT_TRUE(has(outcome.out, "Primary request: Back up ~/notes."));
    }
  }
}

}  // namespace
}  // namespace orvane::app::testing
