#include "tour/tour.hpp"

#include <chrono>
#include <iostream>
#include <sstream>

namespace orvane::app::tour {
namespace {

std::ostream& discard() {
  static std::ostringstream sink;
  sink.str("");
  return sink;
}

}  // namespace

Tour::Tour(std::filesystem::path data_dir, bool json)
    : _data_dir(std::move(data_dir)), _json(json) {}

bool Tour::check(const std::string& section, const std::string& name,
                 const std::function<std::string()>& body) {
  CheckResult result{section, name};
  const auto start = std::chrono::steady_clock::now();
  try {
    result.detail = body();
    result.passed = true;
  } catch (const std::exception& error) {
    result.detail = error.what();
  } catch (...) {
    result.detail = "unknown error";
  }
  result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  say() << (result.passed ? "  ok    " : "  FAIL  ") << section << ": " << name << " - "
        << result.detail << std::endl;
  _results.push_back(std::move(result));
  return _results.back().passed;
}

void Tour::skip(const std::string& section, const std::string& name, const std::string& why) {
  check(section, name, [&]() -> std::string { throw CheckFailed("not run: " + why); });
}

void Tour::skipped(const std::string& section, const std::string& name, const std::string& why) {
  CheckResult result{section, name};
  result.skipped = true;
  result.detail = "skipped: " + why;
  say() << "  skip  " << section << ": " << name << " - " << result.detail << std::endl;
  _results.push_back(std::move(result));
}

std::ostream& Tour::say() {
  return _json ? discard() : std::cout;
}

bool Tour::all_passed() const {
  bool any_passed = false;
  for (const auto& result : _results) {
    if (!result.passed && !result.skipped) return false;
    any_passed |= result.passed;
  }
  return any_passed;
}

}  // namespace orvane::app::tour
