#pragma once
// Keeps one named logger off the screen for a scope: used where a component logs a failure that
// it also returns, or that the command reports in its own words. What it logs at warning level or
// above is kept for the command to read.
#include <memory>
#include <string>
#include <vector>

#include "orvane/host/log.hpp"

namespace orvane::app {

class QuietLogger {
 public:
  explicit QuietLogger(const std::string& name);
  ~QuietLogger();
  QuietLogger(const QuietLogger&) = delete;
  QuietLogger& operator=(const QuietLogger&) = delete;

  // The warnings and errors logged so far, oldest first.
  std::vector<std::string> problems() const;

 private:
  struct Keeper;
  std::shared_ptr<spdlog::logger> _logger;
  std::vector<spdlog::sink_ptr> _sinks;
  std::shared_ptr<Keeper> _keeper;
};

}  // namespace orvane::app
