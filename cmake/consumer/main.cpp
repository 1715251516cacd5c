// A tiny host: each library through its installed public header.
#include <cstdio>
#include <filesystem>
#include <orvane/pc/deskhand.hpp>
#include <orvane/scheduler/scheduler.hpp>
#include <orvane/skills/creator.hpp>
#include <orvane/summarizer/summarizer.hpp>
#include <string>

namespace {

int failed(const char* what) {
  std::fprintf(stderr, "consumer: %s\n", what);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return failed("usage: consumer DATA_DIR");
  const std::filesystem::path state = std::filesystem::path(argv[1]) / "scheduler.json";
  using namespace orvane;
  {
    scheduler::Scheduler first(nullptr, nullptr, state);
    first.add_job(scheduler::ScheduledJob{.name = "news", .schedule = "0 6 * * *", .prompt = "p"});
  }
  scheduler::Scheduler again(nullptr, nullptr, state);
  const auto jobs = again.list_jobs();
  if (jobs.size() != 1 || jobs[0]["name"] != "news") return failed("the job was not read back");

  nlohmann::ordered_json record = nlohmann::ordered_json::object();
  record["summary"] = "Backed up the notes.";
  const std::string text = summarizer::ConversationSummarizer::format_summary_for_context(record);
  if (text.find("### Narrative Summary\nBacked up the notes.") == std::string::npos) {
    return failed("the summary did not render");
  }

  skills::SkillCreator creator(std::filesystem::path(argv[1]) / "creator");
  const auto made =
      creator.create_from_dict({{"type", "python"},
                                {"name", "hello"},
                                {"description", "Say hello"},
                                {"code", "async def run(ctx, params):\n    return {}\n"}});
  // A Windows machine may have no Python; the skill is then refused with a message saying so.
  const bool no_python = made.message.rfind("Python 3 runtime not found", 0) == 0;
#ifndef _WIN32
  if (no_python) return failed("the creator found no Python runtime");
#endif
  if (!no_python && (!made.success || creator.list_saved_skills().size() != 1)) {
    return failed("the script skill was not stored");
  }

  pc::DeskhandExecutor executor;
  const auto tool = executor.get_tool_definition();
  if (tool["type"] != "computer_20250124" || !(tool["display_width_px"].get<int>() > 0)) {
    return failed("unexpected tool definition");
  }
  std::printf("consumer ok: job %s, tool %dx%d%s\n", jobs[0]["id"].get<std::string>().c_str(),
              tool["display_width_px"].get<int>(), tool["display_height_px"].get<int>(),
              no_python ? ", no Python runtime (script skill refused)" : "");
  return 0;
}
