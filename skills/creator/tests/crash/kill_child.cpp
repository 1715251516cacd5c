// Creates, updates and deletes skills and logs learnings in a loop until it is killed. Before each
// call it prints the call ("create NAME VALUE", "script NAME VALUE", "delete NAME",
// "learn NAME VALUE"), after the call returned "ok"; VALUE is the reason the call records.
//
//   creator_kill_child DATA_DIR SEED TAG
#include <unistd.h>

#include <cstdlib>
#include <random>
#include <set>
#include <string>

#include "orvane/host/log.hpp"
#include "orvane/skills/creator.hpp"

namespace {

using json = nlohmann::ordered_json;

void say(const std::string& line) {
  const std::string text = line + "\n";
  if (::write(STDOUT_FILENO, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
    std::_Exit(3);
  }
}

void check(const std::string& what, bool success, const std::string& message) {
  if (success) return;
  say("failed " + what + ": " + message);
  std::_Exit(4);
}

json simple_skill(const std::string& name, const std::string& value) {
  return {{"name", name},
          {"description", "Open a news site " + std::string(300, '.')},
          {"app", "browser"},
          {"category", "productivity"},
          {"triggers", {"news", value}},
          {"required_params", {"url"}},
          {"steps",
           {{{"operation", "open_url"},
             {"description", "Open {{url}}"},
             {"params", {{"url", "{{url}}"}}}},
            {{"operation", "screenshot"}, {"description", "Look"}, {"wait_after", 2.5}}}},
          {"reason", value}};
}

json script_skill(const std::string& name, const std::string& value) {
  return {{"type", "python"},
          {"name", name},
          {"description", "Counts to three"},
          {"code", "async def run(ctx, params):\n    return {'value': '" + value + "'}\n"},
          {"reason", value}};
}

}  // namespace

int main(int argc, char** argv) {
  using orvane::skills::SkillCreator;
  if (argc != 4) return 2;
  std::mt19937_64 random(std::stoull(argv[2]));
  const std::string tag = argv[3];
  const char* simple_names[] = {"skill_a", "skill_b", "skill_c", "skill_d", "skill_e"};
  const char* script_names[] = {"script_a", "script_b"};

  orvane::host::set_level(spdlog::level::warn);  // only failures on standard error
  SkillCreator creator{std::filesystem::path(argv[1])};
  std::set<std::string> stored;
  for (const auto& entry : creator.list_saved_skills()) stored.insert(entry["name"]);
  say("ready");

  for (std::uint64_t i = 0;; ++i) {
    const auto value = tag + "." + std::to_string(i);
    const auto pick = random() % 20;
    if (pick < 9) {
      const std::string name = simple_names[random() % std::size(simple_names)];
      say("create " + name + " " + value);
      const auto result = creator.create_from_dict(simple_skill(name, value));
      check(name, result.success, result.message);
      stored.insert(name);
    } else if (pick < 10) {
      const std::string name = script_names[random() % std::size(script_names)];
      say("script " + name + " " + value);
      const auto result = creator.create_from_dict(script_skill(name, value));
      check(name, result.success, result.message);
      stored.insert(name);
    } else if (pick < 14 && !stored.empty()) {
      auto it = stored.begin();
      std::advance(it, static_cast<std::ptrdiff_t>(random() % stored.size()));
      const auto name = *it;
      say("delete " + name);
      const auto result = creator.delete_skill(name);
      check(name, result.success, result.message);
      stored.erase(name);
    } else {
      const std::string name = simple_names[random() % std::size(simple_names)];
      say("learn " + name + " " + value);
      creator.log_learning(name, value, json{{"round", tag}});
    }
    say("ok");
  }
}
