// The desktop executor's road on Windows: the executor has no Win32 input or capture yet, so the
// steps are recorded as skipped, with the screen size it does read.
#include <string>

#include "orvane/pc/deskhand.hpp"
#include "tour/tour.hpp"

namespace orvane::app::tour {

void deskhand_section(Tour& tour) {
  tour.say() << "\n== deskhand" << std::endl;
  tour.check("deskhand", "read the screen size", [] {
    const Json info = pc::DeskhandExecutor().get_display_info();
    if (info.value("screen_width", 0) <= 0 || info.value("screen_height", 0) <= 0) {
      throw CheckFailed("no screen size: " + info.dump());
    }
    return "the " + info["screen_width"].dump() + "x" + info["screen_height"].dump() +
           " screen, scaled to " + info["api_width"].dump() + "x" + info["api_height"].dump();
  });
  const std::string why = "this build has no Windows desktop input or capture yet";
  for (const char* step :
       {"open a window of our own on the display", "screenshot through execute_action",
        "left_click into the window", "type \"Grüße ✓\" into the window"}) {
    tour.skipped("deskhand", step, why);
  }
}

}  // namespace orvane::app::tour
