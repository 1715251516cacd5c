// `orvane desk ...`: the desktop executor on the session's desktop, chosen as the library chooses.
#include <exception>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include "base64.hpp"
#include "cli.hpp"
#include "data_home.hpp"
#include "desk_actions.hpp"
#include "desk_key_names.hpp"
#include "json_input.hpp"
#include "orvane/common/path_text.hpp"
#include "orvane/pc/deskhand.hpp"
#include "quiet_logger.hpp"
#include "terminal_text.hpp"

namespace orvane::app {
namespace {

// The executor with its files in the data directory, on a desktop that answered.
struct Desk {
  explicit Desk(const Cli& cli)
      : home(cli.data_dir()),
        platform(pc::make_system_platform()),
        executor(std::nullopt, platform) {
    // Without a desktop the executor would go on with an invented 1920x1080 screen.
    try {
      platform->input();
    } catch (const std::exception& error) {
      throw Failure(std::string("no desktop could be reached: ") + error.what());
    }
    info = display_info();  // detects the screen, with its messages shown
  }

  // The action's result; an error object becomes the failure it describes.
  Json run(const std::string& action, const Json& params) {
    Json result;
    {
      // The executor logs each failed action and returns the same error, which is printed.
      QuietLogger quiet("orvane.pc.deskhand");
      result = executor.execute_action(action, params);
    }
    if (result.value("type", "") == "error") throw Failure(result.value("error", "action failed"));
    return result;
  }

  // The executor's display info, with the screenshot's path in the data directory.
  Json display_info() {
    Json shown = executor.get_display_info();
    if (shown["last_screenshot"].is_string()) {
      shown["last_screenshot"] = common::utf8_of(
          home.real_path(common::path_from_utf8(shown["last_screenshot"].get<std::string>())));
    }
    return shown;
  }

  DataHome home;
  std::shared_ptr<pc::DesktopPlatform> platform;
  pc::DeskhandExecutor executor;
  Json info;
};

void write_file(const std::string& path, const std::string& bytes) {
  if (path == "-") {
    std::cout.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    std::cout.flush();
    if (!std::cout) throw Failure("cannot write to standard output");
    return;
  }
  std::ofstream out(common::path_from_utf8(path), std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) throw Failure("cannot write " + path);
}

void add_screenshot(Cli& cli, CLI::App& desk) {
  auto output = std::make_shared<std::string>();
  auto* sub = desk.add_subcommand("screenshot", "Take a screenshot at the model's resolution");
  sub->add_option("-o,--output", *output, "Also write the PNG to FILE (-: standard output)");
  cli.on(sub, [&cli, output] {
    Desk d(cli);
    const Json result = d.run("screenshot", Json::object());
    const auto png = base64_decode(result.value("base64", ""));
    if (!png) throw Failure("the screenshot is not valid base64");
    if (!output->empty()) write_file(*output, *png);
    // With the PNG on standard output, what would be printed goes to standard error.
    std::ostream& text = *output == "-" ? std::cerr : std::cout;
    Json info = d.display_info();
    if (cli.json) {
      info["bytes"] = png->size();
      if (!output->empty()) info["output"] = *output;
      text << info.dump(2, ' ', false, Json::error_handler_t::replace) << '\n';
      return;
    }
    text << "Screen " << info["screen_width"] << "x" << info["screen_height"] << ", API "
         << info["api_width"] << "x" << info["api_height"] << " (scale " << info["scale_factor"]
         << "), " << png->size() << " bytes PNG\n"
         << "Saved " << info["last_screenshot"].get<std::string>() << '\n';
    if (!output->empty() && *output != "-") text << "Wrote " << *output << '\n';
  });
}

// The input ignores a key name it has no key for, and the action still reports it as pressed.
void warn_unknown_keys(const std::string& action, const Json& result) {
  for (const auto& name : unknown_keys_in_result(action, result.value("text", ""))) {
    std::cerr << "orvane: warning: no key is named '" << terminal_safe(name)
              << "': nothing was pressed for it\n";
  }
}

void add_do(Cli& cli, CLI::App& desk) {
  struct Options {
    std::string action;
    std::string params = "{}";
  };
  auto options = std::make_shared<Options>();
  auto* sub = desk.add_subcommand("do", "Run one computer-use action (see `desk actions`)");
  sub->add_option("ACTION", options->action, "left_click, type, key, screenshot, ...")->required();
  sub->add_option("PARAMS", options->params, "The action's parameters as a JSON object");
  cli.on(sub, [&cli, options] {
    Json params;
    try {
      params = parse_json_input(options->params, "PARAMS");
    } catch (const Failure& error) {
      throw UsageError(error.what());
    }
    if (!params.is_object()) {
      throw UsageError("PARAMS must be a JSON object, not " + terminal_safe(options->params));
    }
    Desk d(cli);
    const Json result = d.run(options->action, params);
    warn_unknown_keys(options->action, result);
    if (cli.json) return print_json(result);
    if (result.value("type", "") == "image") {
      const auto png = base64_decode(result.value("base64", ""));
      std::cout << result.value("media_type", "image") << ", " << (png ? png->size() : 0)
                << " bytes, saved as " << d.display_info()["last_screenshot"].get<std::string>()
                << '\n';
    } else {
      std::cout << result.value("text", "") << '\n';
    }
  });
}

void add_actions(Cli& cli, CLI::App& desk) {
  auto* sub = desk.add_subcommand("actions", "List the actions of `desk do` with their parameters");
  cli.on(sub, [&cli] {
    if (cli.json) {
      Json listing = Json::array();
      for (const auto& action : desk_actions()) {
        Json parameters = Json::object();
        for (const auto& p : action.parameters) parameters[std::string(p.name)] = p.meaning;
        listing.push_back(Json{{"action", action.name},
                               {"summary", action.summary},
                               {"parameters", std::move(parameters)}});
      }
      return print_json(listing);
    }
    for (const auto& action : desk_actions()) {
      std::cout << action.name << std::string(18 - action.name.size(), ' ') << action.summary
                << '\n';
      for (const auto& p : action.parameters) {
        std::cout << "    " << p.name << ": " << p.meaning << '\n';
      }
    }
  });
}

void add_queries(Cli& cli, CLI::App& desk) {
  auto* tool = desk.add_subcommand("tool", "Show the computer-use tool definition");
  cli.on(tool, [&cli] {
    Desk d(cli);
    const Json tool = d.executor.get_tool_definition();
    if (cli.json) return print_json(tool);
    std::cout << tool["type"].get<std::string>() << " \"" << tool["name"].get<std::string>()
              << "\": display " << tool["display_width_px"] << "x" << tool["display_height_px"];
    if (tool.contains("display_number")) std::cout << ", display number " << tool["display_number"];
    std::cout << '\n';
  });
  auto* info = desk.add_subcommand("info", "Show the screen size, API size and scale");
  cli.on(info, [&cli] {
    Desk d(cli);
    if (cli.json) return print_json(d.info);
    for (const auto& [key, value] : d.info.items()) {
      std::cout << key << ": " << (value.is_string() ? value.get<std::string>() : value.dump())
                << '\n';
    }
  });
}

}  // namespace

void add_desk_commands(Cli& cli) {
  auto* desk = cli.app.add_subcommand(
      "desk", "The desktop executor on the session's desktop (Wayland or X11, as in the README)");
  desk->require_subcommand(1);
  add_screenshot(cli, *desk);
  add_do(cli, *desk);
  add_actions(cli, *desk);
  add_queries(cli, *desk);
}

}  // namespace orvane::app
