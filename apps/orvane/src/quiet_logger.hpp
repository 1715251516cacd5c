#pragma once
// Silences one named logger for a scope: used where a component logs an error that it also
// returns, and the command prints the returned one itself.
#include <string>

#include "orvane/host/log.hpp"

namespace orvane::app {

class QuietLogger {
 public:
  explicit QuietLogger(const std::string& name)
      : _logger(host::get_logger(name)), _level(_logger->level()) {
    _logger->set_level(spdlog::level::off);
  }
  ~QuietLogger() { _logger->set_level(_level); }
  QuietLogger(const QuietLogger&) = delete;
  QuietLogger& operator=(const QuietLogger&) = delete;

 private:
  std::shared_ptr<spdlog::logger> _logger;
  spdlog::level::level_enum _level;
};

}  // namespace orvane::app
