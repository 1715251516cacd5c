#pragma once
// Shared test setup: a fixed time zone, a virtual clock, a temporary data directory and a loop.
#include <gtest/gtest.h>

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/io_context.hpp>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <string>

#include "environment.hpp"
#include "orvane/host/clock.hpp"
#include "orvane/host/log.hpp"
#include "orvane/scheduler/scheduler.hpp"

namespace orvane::scheduler::testing {

namespace asio = boost::asio;
namespace fs = std::filesystem;
using json = nlohmann::ordered_json;

inline void set_time_zone(const char* zone) {
  set_environment("TZ", zone);
  reload_time_zone();
}

// Seconds since the epoch of a UTC calendar time.
inline double utc(int year, int month, int day, int hour, int minute, int second = 0) {
  using namespace std::chrono;
  const sys_seconds time = sys_days{std::chrono::year{year} / month / day} + hours{hour} +
                           minutes{minute} + seconds{second};
  return static_cast<double>(time.time_since_epoch().count());
}

inline LocalTime local(int year, int month, int day, int hour, int minute, int second = 0,
                       int micros = 0) {
  using namespace std::chrono;
  return LocalTime{local_days{std::chrono::year{year} / month / day}} + hours{hour} +
         minutes{minute} + seconds{second} + microseconds{micros};
}

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

// UTC, a virtual clock at 2025-03-10 05:59:30 UTC (a Monday), HOME in a fresh temporary directory.
class SchedulerTest : public ::testing::Test {
 protected:
  static constexpr double START = 1741586370.0;

  void SetUp() override {
    set_time_zone("UTC");
    std::random_device random;
    do {
      dir = fs::temp_directory_path() / ("scheduler-test-" + std::to_string(random()));
    } while (!fs::create_directory(dir));
    old_home = std::getenv(HOME_VARIABLE) ? std::getenv(HOME_VARIABLE) : "";
    set_environment(HOME_VARIABLE, dir.string());
    host::set_clock(clock);
  }

  void TearDown() override {
    host::set_clock(nullptr);
    set_environment(HOME_VARIABLE, old_home);
    std::error_code ignored;
    fs::remove_all(dir, ignored);
  }

  fs::path state_path() const { return dir / "scheduler.json"; }

  // Runs `body` as a coroutine on the test loop until it has nothing left to do now.
  template <class F>
  void run(F body) {
    asio::co_spawn(io, host::run_owned(std::move(body)), [](std::exception_ptr error) {
      if (error) std::rethrow_exception(error);
    });
    clock->poll(io);
  }

  json state_file() const { return json::parse(read_text(state_path())); }

  fs::path dir;
  std::string old_home;
  std::shared_ptr<host::VirtualClock> clock = std::make_shared<host::VirtualClock>(START);
  asio::io_context io;
  host::LogCapture logs;
};

}  // namespace orvane::scheduler::testing
