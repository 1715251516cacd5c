// Times the executor's whole screenshot action on this desktop: scripts/bench-screenshot runs it
// under Wine beside the Linux benchmark, on the same Xvfb showing the same frame. Usage:
// deskhand_screenshot_timing.exe [REPETITIONS]. Prints one JSON object: each repetition's wall
// and CPU milliseconds and the PNG's size; an error result ends it with status 1.
#include <windows.h>

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <nlohmann/json.hpp>

#include "orvane/pc/deskhand.hpp"

namespace {

double process_cpu_ms() {
  FILETIME created, ended, kernel, user;
  ::GetProcessTimes(::GetCurrentProcess(), &created, &ended, &kernel, &user);
  const auto ticks = [](const FILETIME& t) {
    return (static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
  };
  return static_cast<double>(ticks(kernel) + ticks(user)) / 1e4;  // 100 ns units
}

}  // namespace

int main(int argc, char** argv) {
  const int repetitions = argc > 1 ? std::atoi(argv[1]) : 10;
  orvane::pc::DeskhandExecutor executor;
  nlohmann::json out{{"wall_ms", nlohmann::json::array()}, {"cpu_ms", nlohmann::json::array()}};
  // The first round detects the screen and sets the capture up; it is not timed.
  for (int i = -1; i < repetitions; ++i) {
    const auto wall = std::chrono::steady_clock::now();
    const double cpu = process_cpu_ms();
    const auto result = executor.execute_action("screenshot");
    const double cpu_ms = process_cpu_ms() - cpu;
    const std::chrono::duration<double, std::milli> wall_ms =
        std::chrono::steady_clock::now() - wall;
    if (result.value("type", "") != "image") {
      std::cerr << result.dump() << '\n';
      return 1;
    }
    if (i < 0) continue;
    out["wall_ms"].push_back(wall_ms.count());
    out["cpu_ms"].push_back(cpu_ms);
    const std::string& base64 = result["base64"].get_ref<const std::string&>();
    const std::size_t padding = base64.size() - base64.find_last_not_of('=') - 1;
    out["png_bytes"] = base64.size() / 4 * 3 - padding;
  }
  std::cout << out.dump() << std::endl;
  return 0;
}
