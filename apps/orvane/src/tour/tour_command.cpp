// `orvane tour`: every component once, in a fresh data directory, with a table of checks.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <system_error>

#include "cli.hpp"
#include "data_home.hpp"
#include "temp_directory.hpp"
#include "text_table.hpp"
#include "tour/tour.hpp"

namespace orvane::app {
namespace {

namespace fs = std::filesystem;
using tour::Tour;

// The sections in the order they run; each one is a function of tour.hpp.
constexpr void (*SECTIONS[])(Tour&) = {
    tour::scheduler_section,
    tour::creator_section,
    tour::deskhand_section,
    tour::summarizer_section,
};

std::string seconds_text(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", seconds);
  return text;
}

void print_table(const Tour& t, double total, bool kept) {
  TextTable table({"SECTION", "CHECK", "RESULT", "SECONDS", "DETAIL"});
  int passed = 0, skipped = 0;
  for (const auto& r : t.results()) {
    passed += r.passed;
    skipped += r.skipped;
    table.add({r.section, r.name,
               r.passed    ? "pass"
               : r.skipped ? "skipped"
                           : "FAIL",
               seconds_text(r.seconds), cell(r.detail, 90)});
  }
  std::cout << '\n';
  table.print(std::cout);
  std::cout << '\n'
            << passed << " of " << t.results().size() << " checks passed"
            << (skipped ? ", " + std::to_string(skipped) + " skipped," : "") << " in "
            << seconds_text(total) << " s\n";
  if (!kept) return;
  for (const auto& [what, path] : t.outputs) std::cout << what << ": " << path << '\n';
  std::cout << "Data directory (kept): " << t.data_dir().string() << '\n';
}

// Paths into the tour's directory are named only while it is kept.
Json report(const Tour& t, double total, bool kept) {
  Json checks = Json::array();
  for (const auto& r : t.results()) {
    checks.push_back(Json{{"section", r.section},
                          {"check", r.name},
                          {"passed", r.passed},
                          {"skipped", r.skipped},
                          {"seconds", r.seconds},
                          {"detail", r.detail}});
  }
  Json outputs = Json::object();
  if (kept) {
    for (const auto& [what, path] : t.outputs) outputs[what] = path;
  }
  return Json{{"passed", t.all_passed()},
              {"seconds", total},
              {"data_dir", kept ? Json(t.data_dir().string()) : Json()},
              {"outputs", std::move(outputs)},
              {"checks", std::move(checks)}};
}

fs::path fresh_directory() {
  return make_temp_directory("orvane-tour-") / ".orvane";
}

}  // namespace

void add_tour_command(Cli& cli) {
  auto keep = std::make_shared<bool>(false);
  auto* sub = cli.app.add_subcommand(
      "tour", "Run every component in a fresh data directory and check what each one did");
  sub->add_flag("--keep", *keep,
                "Keep the fresh data directory (it is kept anyway when a check fails)");
  cli.on(sub, [&cli, keep] {
    const auto start = std::chrono::steady_clock::now();
    Tour t(fresh_directory(), cli.json);
    {
      DataHome home(t.data_dir());
      t.say() << "Orvane tour in " << t.data_dir().string() << std::endl;
      for (const auto section : SECTIONS) section(t);
    }
    const double total =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const bool kept = *keep || !t.all_passed();
    if (!kept) {
      std::error_code error;
      fs::remove_all(t.data_dir().parent_path(), error);
      if (error) {
        std::cerr << "orvane: warning: cannot remove " << t.data_dir().parent_path().string()
                  << ": " << error.message() << '\n';
      }
    }
    cli.json ? print_json(report(t, total, kept)) : print_table(t, total, kept);
    if (!t.all_passed()) {
      throw Failure("the tour failed: some checks did not pass (files kept in " +
                    t.data_dir().parent_path().string() + ")");
    }
  });
}

}  // namespace orvane::app
