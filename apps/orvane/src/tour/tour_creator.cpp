// The skill creator's road: a simple skill hot-loaded into a registry, a script skill checked by
// Python, steps filled from parameters, the listing, the log and its counts, a deletion, and a
// second creator that finds everything on disk again.
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "json_input.hpp"
#include "orvane/skills/creator.hpp"
#include "tour/tour.hpp"

namespace orvane::app::tour {
namespace {

namespace fs = std::filesystem;
using skills::SkillCreator;

constexpr const char* SECTION = "creator";
constexpr const char* SIMPLE = "tour_search_web";
constexpr const char* SCRIPT = "tour_greeting";
constexpr const char* QUERY = "Grüße ✓";

const Json SIMPLE_SKILL = {
    {"name", SIMPLE},
    {"description", "Search the web for a query"},
    {"app", "browser"},
    {"category", "browser"},
    {"triggers", {"search the web", "look up"}},
    {"required_params", {"query"}},
    {"optional_params", {"pages"}},
    {"steps",
     {{{"operation", "open_url"},
       {"description", "Open the search page for {{query}}"},
       {"params", {{"url", "https://duckduckgo.com/?q={{query}}"}}},
       {"wait_after", 2.0}},
      {{"operation", "keyboard_press"},
       {"description", "Scroll down {{pages}} pages"},
       {"params", {{"key", "pagedown"}, {"presses", "{{pages}}"}}}}}},
    {"reason", "The tour needs a simple skill"},
};

const std::string SCRIPT_CODE = "async def run(ctx, params):\n    return {'greeting': 'hello'}\n";

void expect(bool holds, const std::string& what) {
  if (!holds) throw CheckFailed(what);
}

void expect_message(const skills::CreationResult& result, const std::string& message) {
  expect(result.success && result.message == message, "the creator answered: " + result.message);
}

std::vector<std::string> field(const std::vector<Json>& records, const std::string& key) {
  std::vector<std::string> values;
  for (const Json& record : records) values.push_back(record[key].dump());
  return values;
}

}  // namespace

void creator_section(Tour& tour) {
  const fs::path data = tour.data_dir();
  tour.say() << "\n== creator: " << (data / "skills").string() << std::endl;
  auto creator = std::make_unique<SkillCreator>(data);
  host::SkillRegistry registry;
  std::shared_ptr<skills::DynamicSkill> simple;

  const bool created = tour.check(SECTION, "create a simple skill, hot-loaded", [&] {
    const auto result = creator->create_from_dict(SIMPLE_SKILL, &registry);
    tour.say() << "    " << result.message << std::endl;
    expect_message(result,
                   "Created skill 'tour_search_web' v1 (2 steps, category: browser). It's "
                   "now available for use.");
    expect(fs::is_regular_file(data / "skills" / "tour_search_web.json"), "no skill file");
    expect(registry._skills.count(SIMPLE) == 1 && registry._skills[SIMPLE] == result.skill,
           "the skill is not in the registry");
    simple = result.skill;
    return std::string("v1 in skills/tour_search_web.json and in the live registry");
  });

  // Script skills are compiled by the user's Python; a machine without one skips them.
  const Json broken = {{"type", "python"},
                       {"name", "tour_broken"},
                       {"description", "A script with a syntax error"},
                       {"code", "async def run(ctx, params):\n    x = = 1\n"}};
  const auto refused = creator->create_from_dict(broken);
  const bool python = refused.message.rfind("Python 3 runtime not found", 0) != 0;
  const char* const script_check = "create a script skill, checked by Python";
  if (!python) {
    tour.skipped(SECTION, script_check, refused.message);
  } else {
    tour.check(SECTION, script_check, [&] {
      tour.say() << "    " << refused.message << std::endl;
      expect(!refused.success &&
                 refused.message.find("Syntax error in code: ") != std::string::npos &&
                 refused.message.find("(tour_broken.py, line 2)") != std::string::npos,
             "a syntax error was not reported as such: " + refused.message);
      const Json script = {{"type", "python"},
                           {"name", SCRIPT},
                           {"description", "Greet the user"},
                           {"code", SCRIPT_CODE}};
      const auto result = creator->create_from_dict(script);
      tour.say() << "    " << result.message << std::endl;
      expect_message(result,
                     "Created Python skill 'tour_greeting' v1 (2 lines, category: custom). "
                     "It's now available for use with run_skill.");
      expect(read_input_file(data / "skills" / "tour_greeting.py") == SCRIPT_CODE,
             "the script file does not hold the code");
      return std::string("the broken script refused at line 2, the good one stored as .py + .json");
    });
  }

  if (created) {
    tour.check(SECTION, "build the simple skill's steps with parameters", [&] {
      const auto steps = simple->build_steps({{"query", QUERY}, {"pages", 3}});
      expect(steps.size() == 2, "not two steps");
      tour.say() << "    1. " << steps[0].description.get<std::string>() << " "
                 << steps[0].params.dump() << "\n    2. " << steps[1].description.get<std::string>()
                 << " " << steps[1].params.dump() << std::endl;
      expect(steps[0].params["url"] == std::string("https://duckduckgo.com/?q=") + QUERY &&
                 steps[0].description == std::string("Open the search page for ") + QUERY,
             "the query was not filled in");
      expect(steps[1].params["presses"] == "3" && steps[1].params["key"] == "pagedown",
             "the page count was not filled in as text");
      expect(steps[0].wait_after == 2.0 && steps[1].wait_after == 1.0 &&
                 steps[1].max_retries == 2 && steps[1].retry_on_fail == false,
             "the step defaults are wrong");
      return std::string("placeholders filled, stored wait_after kept, defaults for the rest");
    });
  } else {
    tour.skip(SECTION, "build the simple skill's steps with parameters", "no simple skill");
  }

  tour.check(SECTION, "listing, improvement log and stats", [&] {
    creator->log_learning(SIMPLE, "Found the answer on the first page", Json{{"pages", 1}});
    const auto listing = creator->list_saved_skills();
    std::vector<std::string> names{"\"tour_search_web\""};
    std::vector<std::string> actions{"\"created\"", "\"learned\""};
    if (python) {
      names.insert(names.begin(), "\"tour_greeting\"");
      actions.insert(actions.begin(), "\"created\"");
    }
    expect(field(listing, "name") == names,
           "the listing holds " + Json(field(listing, "name")).dump());
    const auto log = creator->get_improvement_log();
    expect(field(log, "action") == actions, "the log holds " + Json(field(log, "action")).dump());
    const Json stats = creator->get_improvement_stats();
    tour.say() << "    " << stats.dump() << std::endl;
    const int skills = python ? 2 : 1;
    expect(stats["total_improvements"] == skills + 1 && stats["skills_created"] == skills &&
               stats["learnings_recorded"] == 1 && stats["active_custom_skills"] == skills,
           "unexpected stats " + stats.dump());
    return std::string(python ? "2 skills listed; log: created, created, learned"
                              : "1 skill listed; log: created, learned") +
           "; stats agree";
  });

  const char* const delete_check = "delete a skill; a new creator finds the rest";
  if (!python) {
    tour.skipped(SECTION, delete_check, "it deletes the script skill, which needs Python");
    return;
  }
  tour.check(SECTION, delete_check, [&] {
    const auto [deleted, message] = creator->delete_skill(SCRIPT, &registry);
    expect(deleted && message == "Deleted skill 'tour_greeting'",
           "the creator answered: " + message);
    expect(!fs::exists(data / "skills" / "tour_greeting.json") &&
               fs::exists(data / "skills" / "tour_greeting.py"),
           "deleting did not remove exactly the metadata file");
    creator = std::make_unique<SkillCreator>(data);
    host::SkillRegistry fresh;
    const std::size_t loaded = creator->load_into_registry(fresh);
    const auto log = creator->get_improvement_log();
    expect(loaded == 1 && fresh._skills.count(SIMPLE) == 1,
           "a new creator loaded " + std::to_string(loaded) + " skills");
    expect(log.size() == 4 && log.back()["action"] == "deleted",
           "the log read back holds " + std::to_string(log.size()) + " entries");
    return std::string("the script's .py stays; reloaded 1 skill and the 4 log entries");
  });
}

}  // namespace orvane::app::tour
