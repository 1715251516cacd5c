#pragma once
// A data directory and a home of the test's own for running the orvane binary, and no model
// unless a test names one.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "support/child_process.hpp"

namespace orvane::app::testing {

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;

inline std::string read_text(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

inline void write_text(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

class Cli : public ::testing::Test {
 protected:
  void SetUp() override {
    root = fs::temp_directory_path() /
           ("orvane-cli-" + std::to_string(getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root);
    fs::create_directories(root / "home");
    data = root / "data";
  }
  void TearDown() override { fs::remove_all(root); }

  Outcome orvane(std::vector<std::string> args, EnvChanges env = {}) {
    if (std::find(args.begin(), args.end(), "--data-dir") == args.end()) {
      args.insert(args.begin(), {"--data-dir", data.string()});
    }
    env.emplace("HOME", (root / "home").string());
    env.emplace("ORVANE_LLM_URL", std::nullopt);
    env.emplace("ORVANE_LOG_LEVEL", std::nullopt);
    return run_orvane(args, env);
  }
  Json orvane_json(std::vector<std::string> args, EnvChanges env = {}) {
    args.push_back("--json");
    const Outcome outcome = orvane(args, env);
    EXPECT_EQ(outcome.exit_code, 0) << outcome.err;
    return Json::parse(outcome.out);
  }

  fs::path root;
  fs::path data;
};

}  // namespace orvane::app::testing
