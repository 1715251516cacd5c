#include "desk_actions.hpp"

#include <array>

namespace orvane::app {
namespace {

using P = DeskParameter;

constexpr std::array<P, 1> AT{{{"coordinate", "[x, y] in API pixels, required"}}};
constexpr std::array<P, 1> AT_OPTIONAL{{{"coordinate", "[x, y] in API pixels, optional"}}};
constexpr std::array<P, 2> DRAG{{{"start_coordinate", "[x, y] where the drag starts, required"},
                                 {"coordinate", "[x, y] where it ends, required"}}};
constexpr std::array<P, 1> TEXT{{{"text", "the text to type, required"}}};
constexpr std::array<P, 1> KEY{
    {{"text", "a key name or combination (\"Return\", \"ctrl+s\"), required"}}};
constexpr std::array<P, 5> SCROLL{
    {{"coordinate", "[x, y] to scroll at, optional"},
     {"direction", "up, down, left or right (default down)"},
     {"amount", "wheel clicks (default 3)"},
     {"scroll_direction", "the computer-use tool's name for direction"},
     {"scroll_amount", "the computer-use tool's name for amount"}}};
constexpr std::array<P, 1> WAIT{{{"duration", "seconds (default 1, at most 10)"}}};
constexpr std::array<P, 2> HOLD{
    {{"text", "the key name, required"}, {"duration", "seconds (default 0.5, at most 5)"}}};

constexpr std::array<DeskAction, 16> ACTIONS{{
    {"screenshot", "Capture the screen at the API resolution", {}},
    {"left_click", "Click the left button", AT},
    {"right_click", "Click the right button", AT},
    {"middle_click", "Click the middle button", AT},
    {"double_click", "Double-click the left button", AT},
    {"triple_click", "Triple-click the left button", AT},
    {"mouse_move", "Move the pointer", AT},
    {"left_click_drag", "Drag with the left button held", DRAG},
    {"type", "Type text (pasted through xclip, xsel or wl-copy when one is installed)", TEXT},
    {"key", "Press a key or a key combination", KEY},
    {"scroll", "Turn the mouse wheel", SCROLL},
    {"wait", "Pause", WAIT},
    {"hold_key", "Hold a key down for a while", HOLD},
    {"left_mouse_down", "Press the left button and keep it down", AT_OPTIONAL},
    {"left_mouse_up", "Release the left button", {}},
    {"cursor_position", "Report the pointer's position in API pixels", {}},
}};

}  // namespace

std::span<const DeskAction> desk_actions() {
  return ACTIONS;
}

}  // namespace orvane::app
