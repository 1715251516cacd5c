#include "pointer_path.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <thread>

namespace orvane::pc {

void walk_pointer(std::pair<int, int> from, std::pair<int, int> to, double duration,
                  const std::function<void(int x, int y, bool last)>& move) {
  const auto [from_x, from_y] = from;
  const auto [x, y] = to;
  const long long distance = std::max(std::llabs(static_cast<long long>(x) - from_x),
                                      std::llabs(static_cast<long long>(y) - from_y));
  const long long steps =
      duration > 0
          ? std::min<long long>(distance, static_cast<long long>(std::min(duration, 60.0) / 0.01))
          : 0;
  const auto pause = [&] {
    std::this_thread::sleep_for(
        std::chrono::duration<double>(duration / static_cast<double>(steps)));
  };
  for (long long i = 1; i < steps; ++i) {
    const double t = static_cast<double>(i) / static_cast<double>(steps);
    move(from_x + static_cast<int>(std::lround((double(x) - from_x) * t)),
         from_y + static_cast<int>(std::lround((double(y) - from_y) * t)), false);
    pause();
  }
  move(x, y, true);
  if (steps > 0) pause();
}

}  // namespace orvane::pc
