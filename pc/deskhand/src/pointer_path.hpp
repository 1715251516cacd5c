#pragma once
// How every desktop moves the pointer over a duration: straight, in steps of about 10 ms and
// never more than one per pixel, so that windows see a motion rather than a jump.
#include <functional>
#include <utility>

namespace orvane::pc {

// Calls `move(x, y, last)` for each point on the way from `from` to `to`, `last` being true for
// `to` itself, and sleeps between the steps and after the last one when there were steps. With
// no duration the pointer goes straight to `to`.
void walk_pointer(std::pair<int, int> from, std::pair<int, int> to, double duration,
                  const std::function<void(int x, int y, bool last)>& move);

}  // namespace orvane::pc
