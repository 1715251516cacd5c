#pragma once
// `orvane tour`: runs each component in a fresh data directory and checks what it did.
#include <filesystem>
#include <functional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "output.hpp"

namespace orvane::app::tour {

// A check that did not hold; what() says what was seen instead.
class CheckFailed : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct CheckResult {
  std::string section;
  std::string name;
  bool passed = false;
  bool skipped = false;  // could not run on this machine; neither passed nor failed
  double seconds = 0;
  std::string detail;
};

class Tour {
 public:
  Tour(std::filesystem::path data_dir, bool json);

  // Runs one check: `body` returns what it verified, or throws (CheckFailed or any error) with
  // what went wrong. Returns whether it passed.
  bool check(const std::string& section, const std::string& name,
             const std::function<std::string()>& body);
  // Marks a check that could not run because an earlier one failed.
  void skip(const std::string& section, const std::string& name, const std::string& why);

  // Records a check that this machine cannot run (what it lacks is `why`); the tour still passes.
  void skipped(const std::string& section, const std::string& name, const std::string& why);

  // Narration shown while the tour runs (nothing in --json mode).
  std::ostream& say();

  const std::filesystem::path& data_dir() const { return _data_dir; }
  const std::vector<CheckResult>& results() const { return _results; }
  // Every check passed or was skipped, and at least one passed.
  bool all_passed() const;
  // Files worth showing at the end ("screenshot" -> path).
  std::vector<std::pair<std::string, std::string>> outputs;

 private:
  std::filesystem::path _data_dir;
  bool _json;
  std::vector<CheckResult> _results;
};

// The sections, in the order the tour runs them. Each records its checks on the tour.
void scheduler_section(Tour& tour);
void creator_section(Tour& tour);
void deskhand_section(Tour& tour);
void summarizer_section(Tour& tour);

}  // namespace orvane::app::tour
