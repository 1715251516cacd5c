// The orvane binary run as a process, on the roads a user takes.
#include <gtest/gtest.h>
#include <signal.h>

#include <boost/asio/io_context.hpp>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "support/child_process.hpp"
#include "support/http_test_server.hpp"
#include "support/orvane_fixture.hpp"
#include "support/xvfb.hpp"

namespace orvane::app::testing {
namespace {

namespace fs = std::filesystem;
namespace http = boost::beast::http;
using Json = nlohmann::ordered_json;

// The local minute now, as --at takes it: due at once.
std::string this_minute() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &local);
  return text;
}

TEST_F(Cli, JobsAddedInOneProcessAreListedAndRemovedInOthers) {
  const Json cron = orvane_json(
      {"schedule", "add", "--cron", "0 6 * * *", "--name", "news", "--prompt", "Read the news"});
  const Json every = orvane_json(
      {"schedule", "add", "--every", "90", "--name", "Grüße", "--prompt", "x", "--max-runs", "3"});
  EXPECT_EQ(cron["job_type"], "cron");
  EXPECT_EQ(every["interval_seconds"], 90);

  Json jobs = orvane_json({"schedule", "list"});
  ASSERT_EQ(jobs.size(), 2u);
  EXPECT_EQ(jobs[0]["id"], every["id"]);  // soonest first: 90 s before 06:00
  EXPECT_EQ(jobs[0]["name"], "Grüße");
  EXPECT_EQ(jobs[0]["max_runs"], 3);
  EXPECT_EQ(jobs[1]["schedule"], "0 6 * * *");

  const Outcome text = orvane({"schedule", "list"});
  EXPECT_NE(text.out.find("every 90s"), std::string::npos) << text.out;

  EXPECT_EQ(orvane({"schedule", "pause", every["id"]}).exit_code, 0);
  const Outcome removed = orvane({"schedule", "remove", cron["id"]});
  EXPECT_EQ(removed.exit_code, 0);
  EXPECT_EQ(removed.out, "Removed job " + cron["id"].get<std::string>() + "\n");
  jobs = orvane_json({"schedule", "list"});
  ASSERT_EQ(jobs.size(), 1u);
  EXPECT_EQ(jobs[0]["state"], "paused");
  EXPECT_EQ(orvane_json({"schedule", "stats"})["paused_jobs"], 1);
}

TEST_F(Cli, SkillsCreatedInOneProcessAreListedShownAndDeletedInOthers) {
  fs::create_directories(root / "files");
  write_text(root / "files" / "simple.json", R"({"name": "open_site", "description": "Open a site",
    "app": "browser", "category": "browser", "triggers": ["open"], "required_params": ["url"],
    "steps": [{"operation": "open_url", "description": "Open {{url}}",
               "params": {"url": "{{url}}"}}]})");
  write_text(root / "files" / "script.json", R"({"type": "python", "name": "gr\u00fc\u00dfe",
    "description": "Greet", "code": "async def run(ctx, params):\n    return {}\n"})");
  const Outcome simple = orvane({"skill", "create", (root / "files" / "simple.json").string()});
  EXPECT_EQ(simple.exit_code, 0) << simple.err;
  EXPECT_EQ(simple.out,
            "Created skill 'open_site' v1 (1 steps, category: browser). It's now available for "
            "use.\n");
  EXPECT_EQ(orvane_json({"skill", "create", (root / "files" / "simple.json").string()})["message"],
            "Updated skill 'open_site' v2 (1 steps, category: browser). It's now available for "
            "use.");
  EXPECT_EQ(orvane({"skill", "create", (root / "files" / "script.json").string()}).exit_code, 0);

  const Json listing = orvane_json({"skill", "list"});
  ASSERT_EQ(listing.size(), 2u);
  EXPECT_EQ(listing[0]["name"], "grüße");
  EXPECT_EQ(listing[1]["version"], 2);
  EXPECT_EQ(orvane_json({"skill", "show", "open_site"})["steps"][0]["params"]["url"], "{{url}}");
  EXPECT_EQ(orvane_json({"skill", "show", "grüße"})["script"], "grüße.py");

  const Outcome deleted = orvane({"skill", "delete", "open_site"});
  EXPECT_EQ(deleted.out, "Deleted skill 'open_site'\n");
  EXPECT_EQ(orvane({"skill", "learn", "grüße", "Greets well"}).exit_code, 0);
  const Json log = orvane_json({"skill", "log", "--limit", "2"});
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0]["action"], "deleted");
  EXPECT_EQ(log[1]["action"], "learned");
  const Json stats = orvane_json({"skill", "stats"});
  EXPECT_EQ(stats["total_improvements"], 5);
  EXPECT_EQ(stats["active_custom_skills"], 1);
  EXPECT_TRUE(fs::exists(data / "skills" / "grüße.py"));
}

// Answers every chat completion with `content`.
host::testing::TestServer::Handler model_saying(const std::string& content) {
  return [content](const host::testing::Request&) {
    Json body = {{"choices", {{{"message", {{"role", "assistant"}, {"content", content}}}}}}};
    return host::testing::reply(http::status::ok, body.dump());
  };
}

// A model server on 127.0.0.1, served from a thread while the child runs.
struct ModelServer {
  explicit ModelServer(const std::string& content) : server(io, model_saying(content)) {
    thread = std::thread([this] { io.run(); });
  }
  ~ModelServer() { stop(); }
  void stop() {
    io.stop();
    if (thread.joinable()) thread.join();
  }
  boost::asio::io_context io;
  host::testing::TestServer server;
  std::thread thread;
};

TEST_F(Cli, ScheduleRunFiresADueJobAndStopsCleanlyOnSigterm) {
  for (const bool with_model : {false, true}) {
    SCOPED_TRACE(with_model ? "with a model" : "without a model");
    fs::remove_all(data);
    ModelServer model("Hello back");
    EnvChanges env{{"HOME", (root / "home").string()}};
    if (with_model)
      env["ORVANE_LLM_URL"] = model.server.base_url();
    else
      env["ORVANE_LLM_URL"] = std::nullopt;

    const Json job = orvane_json(
        {"schedule", "add", "--at", this_minute(), "--name", "hello", "--prompt", "Say hello"});
    Child run({ORVANE_BINARY, "--data-dir", data.string(), "schedule", "run"}, env);
    ASSERT_TRUE(run.wait_for_output("completed hello")) << run.out();
    // The running loop owns the state file; a change from another process is refused.
    const Outcome busy = orvane({"schedule", "remove", job["id"]});
    EXPECT_EQ(busy.exit_code, 1);
    EXPECT_NE(busy.err.find("in use by another orvane process"), std::string::npos) << busy.err;

    run.signal(SIGTERM);
    const Outcome outcome = run.finish();
    EXPECT_EQ(outcome.exit_code, 0) << outcome.err;
    EXPECT_NE(outcome.out.find("fired hello (" + job["id"].get<std::string>() + ")"),
              std::string::npos);
    EXPECT_NE(outcome.out.find("Scheduler stopped"), std::string::npos) << outcome.out;
    EXPECT_EQ(outcome.out.find("prompt: Say hello") != std::string::npos, !with_model);
    model.stop();
    if (with_model) {
      ASSERT_EQ(model.server.requests.size(), 1u);
      EXPECT_NE(model.server.requests[0].body().find("Say hello"), std::string::npos);
    }

    const Json runs = orvane_json({"schedule", "history"});
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0]["success"], true);
    EXPECT_EQ(runs[0]["result"], with_model ? "Hello back" : "Completed");
    const Json jobs = orvane_json({"schedule", "list"});
    EXPECT_EQ(jobs[0]["state"], "completed");
    EXPECT_EQ(jobs[0]["run_count"], 1);
  }
}

TEST_F(Cli, SummarizeUsesTheModelOrSaysThereIsNoneAndPrintsTheFallback) {
  const fs::path conversation = root / "conversation.json";
  write_text(conversation, R"([{"role": "user", "content": "Back up ~/notes to the NAS."},
                               {"role": "assistant", "content": "Copying now."}])");
  {
    ModelServer model(R"({"goals": ["Back up notes"], "summary": "Notes are being copied."})");
    const EnvChanges env{{"ORVANE_LLM_URL", model.server.base_url()},
                         {"ORVANE_LLM_MODEL", "local"}};
    const Json record = orvane_json({"summarize", conversation.string()}, env);
    EXPECT_EQ(record["goals"], Json::array({"Back up notes"}));
    EXPECT_EQ(record["summary"], "Notes are being copied.");
    const Outcome rendered = orvane({"summarize", conversation.string(), "--render"}, env);
    EXPECT_EQ(rendered.exit_code, 0);
    EXPECT_TRUE(rendered.out.starts_with("## Conversation History Summary\n")) << rendered.out;
    EXPECT_NE(rendered.out.find("### Narrative Summary\nNotes are being copied."),
              std::string::npos);
    model.stop();
    ASSERT_EQ(model.server.requests.size(), 2u);
    EXPECT_NE(model.server.requests[0].body().find("Back up ~/notes to the NAS."),
              std::string::npos);
    EXPECT_NE(model.server.requests[0].body().find("\"model\":\"local\""), std::string::npos);
  }
  const Outcome fallback = orvane({"summarize", conversation.string(), "--json"});
  EXPECT_EQ(fallback.exit_code, 3);
  EXPECT_EQ(fallback.err,
            "orvane: no model configured (ORVANE_LLM_URL is not set): printing the fallback "
            "record\n");
  EXPECT_EQ(Json::parse(fallback.out)["summary"],
            "Conversation with 2 messages. Primary request: Back up ~/notes to the NAS.");
}

class OnXvfb : public Cli {
 protected:
  pc::testing::Xvfb xvfb{1920, 1080};
  EnvChanges display() const { return {{"DISPLAY", xvfb.display_name()}}; }
};

TEST_F(OnXvfb, DeskScreenshotWritesThePngIntoTheDataDirectoryAndTheOutputFile) {
  const fs::path output = root / "shot.png";
  const Outcome shot = orvane({"desk", "screenshot", "-o", output.string()}, display());
  ASSERT_EQ(shot.exit_code, 0) << shot.err;
  EXPECT_TRUE(shot.out.starts_with("Screen 1920x1080, API 1429x804 (scale ")) << shot.out;
  const std::string png = read_text(output);
  ASSERT_GT(png.size(), 24u);
  EXPECT_EQ(png.substr(1, 3), "PNG");
  // IHDR: width and height, big-endian, at bytes 16 and 20.
  const auto be32 = [&](std::size_t at) {
    return (std::uint32_t(std::uint8_t(png[at])) << 24) | (std::uint8_t(png[at + 1]) << 16) |
           (std::uint8_t(png[at + 2]) << 8) | std::uint8_t(png[at + 3]);
  };
  EXPECT_EQ(be32(16), 1429u);
  EXPECT_EQ(be32(20), 804u);
  EXPECT_EQ(read_text(data / "screenshots" / "latest.png"), png);
  EXPECT_FALSE(fs::exists(root / "home" / ".orvane"));  // nothing outside --data-dir

  const Json tool = orvane_json({"desk", "tool"}, display());
  EXPECT_EQ(tool["display_width_px"], 1429);
  EXPECT_EQ(tool["display_height_px"], 804);
}

struct BadInput {
  std::vector<std::string> args;
  int exit_code;
  std::string message;  // what the one line on stderr holds
};

TEST_F(OnXvfb, BadInputGetsOneClearLineAndTheExitCodeOfItsKind) {
  fs::create_directories(root / "files");
  const auto file = [&](const std::string& name, const std::string& text) {
    write_text(root / "files" / name, text);
    return (root / "files" / name).string();
  };
  const std::string missing = (root / "files" / "missing.json").string();
  const std::string deep = std::string(100000, '[') + std::string(100000, ']');
  const std::string a_file = file("plain", "x");
  const std::vector<BadInput> cases = {
      {{"summarize", missing}, 1, "cannot read " + missing},
      {{"summarize", file("bad.json", "[{\"role\": ")}, 1, "is not valid JSON"},
      {{"summarize", file("object.json", "{\"role\": \"user\"}")},
       1,
       "holds a JSON object, not an array of messages"},
      {{"summarize", file("numbers.json", "[1, 2]")}, 1, "not a conversation: "},
      {{"summarize", file("deep.json", deep)}, 1, "nests deeper than 512 levels"},
      {{"schedule", "remove", "0123456789"}, 1, "no job with id, id prefix or name '0123456789'"},
      {{"schedule", "resume", "nope"}, 1, "no job with id, id prefix or name 'nope'"},
      {{"schedule", "add", "--cron", "every day", "--name", "n", "--prompt", "p"},
       2,
       "invalid cron expression 'every day': "},
      {{"schedule", "add", "--cron", "0 0 30 2 *", "--name", "n", "--prompt", "p"},
       2,
       "invalid cron expression '0 0 30 2 *': "},
      {{"--data-dir", a_file, "schedule", "add", "--every", "5", "--name", "n", "--prompt", "p"},
       2,
       a_file},
      {{"desk", "do", "bogus_action"}, 1, "Unknown action: bogus_action"},
      {{"desk", "do", "left_click", "{\"coordinate\": "}, 2, "PARAMS is not valid JSON"},
      {{"desk", "do", "left_click", "[1, 2]"}, 2, "PARAMS must be a JSON object"},
      {{"skill", "learn", "s", "r", "--details", "{x"}, 2, "--details is not valid JSON"},
      {{"desk", "do", "left_click", "{}"}, 1, "left_click requires coordinate [x, y]"},
      {{"schedule", "add", "--at", "2025-02-30 10:00", "--name", "n", "--prompt", "p"},
       2,
       "--at takes a local time as \"YYYY-MM-DD HH:MM\""},
      {{"schedule", "add", "--every", "0", "--name", "n", "--prompt", "p"}, 2, "--every"},
      {{"schedule", "add", "--every", "5", "--cron", "* * * * *", "--name", "n", "--prompt", "p"},
       2,
       "excludes"},
      {{"schedule", "add", "--name", "n", "--prompt", "p"}, 2, "needs one of --cron"},
      {{"schedule", "add", "--every", "5", "--prompt", "p"}, 2, "--name is required"},
      {{"skill", "create", file("empty.json", "{}")},
       1,
       "Validation failed: Skill name is required (key \"name\"); Description is required (key "
       "\"description\"); App name is required (key \"app\"); At least one trigger keyword is "
       "required (key \"triggers\"); At least one step is required (key \"steps\")"},
      {{"skill", "create", file("nul.json", R"({"type": "python", "name": "n", "description": "d",
         "code": "async def run(ctx, params):\n    return {}\u0000"})")},
       1,
       "source code string cannot contain null bytes"},
      {{"skill", "show", "nope"}, 1, "no saved skill named 'nope'"},
      {{"skill", "delete", "nope"}, 1, "Skill 'nope' not found"},
      {{"skill", "delete", "../scheduler"}, 1, "Invalid skill name: ../scheduler"},
      {{"skill", "learn", "s", "r", "--details", "[1]"}, 2, "--details must be a JSON object"},
      {{"frobnicate"}, 2, "unknown command 'frobnicate'"},
      {{}, 2, "orvane needs a command: schedule, skill"},
  };
  for (const auto& c : cases) {
    std::string shown;
    for (const auto& a : c.args) shown += a.substr(0, 40) + " ";
    SCOPED_TRACE(shown);
    const Outcome outcome = orvane(c.args, display());
    EXPECT_EQ(outcome.exit_code, c.exit_code);
    EXPECT_TRUE(outcome.err.starts_with("orvane: ")) << outcome.err;
    EXPECT_EQ(std::count(outcome.err.begin(), outcome.err.end(), '\n'), 1) << outcome.err;
    EXPECT_NE(outcome.err.find(c.message), std::string::npos) << outcome.err;
  }
  const Outcome no_display = orvane({"desk", "screenshot"},
                                    {{"DISPLAY", std::nullopt}, {"WAYLAND_DISPLAY", std::nullopt}});
  EXPECT_EQ(no_display.exit_code, 1);
  EXPECT_EQ(no_display.err,
            "orvane: no desktop could be reached: cannot open X display (DISPLAY not set)\n");
}

}  // namespace
}  // namespace orvane::app::testing
