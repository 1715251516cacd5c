#pragma once
// Named loggers on the host's sinks and format.
#include <spdlog/spdlog.h>

#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace orvane::host {

// The named logger ("orvane.scheduler", ...), made on first use with the host's sinks. Levels in
// use: debug, info, warn (shown as "warning"), error.
std::shared_ptr<spdlog::logger> get_logger(const std::string& name);

// Logs `message` at error level "with the stack trace": the record also carries the exception's
// type and message after a line "Traceback: <type>: <what>".
void log_exception(spdlog::logger& logger, std::string_view message, const std::exception& error);
void log_exception(spdlog::logger& logger, std::string_view message, std::exception_ptr error);

// The level every named logger starts at (default debug, so that nothing is filtered before the
// sinks); the sinks' own level is the host's choice.
void set_level(spdlog::level::level_enum level);

struct LogRecord {
  std::string logger;
  spdlog::level::level_enum level;
  std::string message;  // the text logged, without the trace
  std::string trace;    // "<type>: <what>" for log_exception records, else empty
};

// Collects every record of every named logger while it lives; for tests.
class LogCapture {
 public:
  LogCapture();
  ~LogCapture();
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  std::vector<LogRecord> records() const;
  // Records of one logger, in order.
  std::vector<LogRecord> records(std::string_view logger) const;
  // True when some record has exactly this level and message.
  bool contains(spdlog::level::level_enum level, std::string_view message) const;
  void clear();

  struct State;

 private:
  std::shared_ptr<State> _state;
};

}  // namespace orvane::host
