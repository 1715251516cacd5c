#include "orvane/skills/creator.hpp"

namespace orvane::skills {

const std::set<std::string> SkillCreator::VALID_CATEGORIES = {
    "messaging", "calendar", "email",   "music",       "files",         "browser", "productivity",
    "social",    "shopping", "finance", "development", "system",        "media",   "education",
    "health",    "travel",   "food",    "gaming",      "communication", "utility", "custom",
};

// The operations of the host's desktop-control ("pc") tool.
const std::set<std::string> SkillCreator::VALID_OPERATIONS = {
    // applications and system
    "open_app",
    "close_app",
    "open_url",
    "open_file",
    "open_folder",
    "run_command",
    "list_processes",
    "kill_process",
    "get_clipboard",
    "set_clipboard",
    "send_notification",
    "list_apps",
    "system_info",
    "active_window",
    // browser
    "navigate",
    "browser_click",
    "browser_type",
    "browser_press",
    "fill_form",
    "select_option",
    "browser_hover",
    "browser_scroll",
    "get_page",
    "get_elements",
    "browser_screenshot",
    "new_tab",
    "close_tab",
    "switch_tab",
    "list_tabs",
    "evaluate_js",
    "wait_for_text",
    // mouse, keyboard and screen
    "mouse_click",
    "mouse_move",
    "mouse_scroll",
    "keyboard_type",
    "keyboard_press",
    "keyboard_hotkey",
    "keyboard_shortcut",
    "screenshot",
    "read_screen",
    "find_text_on_screen",
};

}  // namespace orvane::skills
