#pragma once
// Shared test setup: UTC, a virtual clock, a fresh data directory, and a log capture.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "orvane/host/clock.hpp"
#include "orvane/host/log.hpp"
#include "orvane/host/skills.hpp"
#include "orvane/skills/creator.hpp"

namespace orvane::skills::testing {

namespace fs = std::filesystem;
using json = nlohmann::ordered_json;
using spdlog::level::err;
using spdlog::level::info;
using spdlog::level::warn;

inline std::string read_text(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

inline void write_text(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

// A registry that remembers each registration and can be told to refuse.
struct RecordingRegistry : host::SkillRegistry {
  std::vector<std::string> registered;
  bool refuse = false;
  void register_skill(std::shared_ptr<host::SkillDefinition> skill) override {
    if (refuse) throw std::runtime_error("registry is closed");
    registered.push_back(skill->name);
    host::SkillRegistry::register_skill(std::move(skill));
  }
};

#ifdef _WIN32
inline void set_env(const char* name, const std::string& value) {
  _putenv_s(name, value.c_str());
}
#else
inline void set_env(const char* name, const std::string& value) {
  setenv(name, value.c_str(), 1);
}
#endif

class CreatorTest : public ::testing::Test {
 protected:
  // 2025-03-10 05:59:30 UTC.
  static constexpr double START = 1741586370.0;

  void SetUp() override {
    set_env("TZ", "UTC");
    tzset();
    do {
      root = fs::temp_directory_path() / ("creator-test-" + std::to_string(std::random_device{}()));
    } while (!fs::create_directory(root));
    data = root / "data";
    host::set_clock(clock);
  }

  void TearDown() override {
    host::set_clock(nullptr);
    std::error_code ignored;
    fs::remove_all(root, ignored);
  }

  fs::path skills_dir() const { return data / "skills"; }
  fs::path log_file() const { return data / "improvement_log.json"; }
  json log_on_disk() const { return json::parse(read_text(log_file())); }

  // Records of the creator's channel as "level: message".
  std::vector<std::string> records() const {
    std::vector<std::string> out;
    for (const auto& r : logs.records("orvane.skills.creator")) {
      out.push_back(std::string(spdlog::level::to_string_view(r.level).data()) + ": " + r.message);
    }
    return out;
  }

  // A valid two-step simple skill.
  static json simple_skill(const std::string& name = "open_news") {
    return {{"name", name},
            {"description", "Open a news site"},
            {"app", "browser"},
            {"category", "productivity"},
            {"triggers", {"news"}},
            {"required_params", {"url"}},
            {"steps",
             {{{"operation", "open_url"},
               {"description", "Open {{url}}"},
               {"params", {{"url", "{{url}}"}}}},
              {{"operation", "screenshot"}, {"description", "Look"}, {"wait_after", 2.5}}}},
            {"reason", "User reads news daily"}};
  }

  fs::path root;
  fs::path data;
  std::shared_ptr<host::VirtualClock> clock = std::make_shared<host::VirtualClock>(START);
  host::LogCapture logs;
};

}  // namespace orvane::skills::testing
