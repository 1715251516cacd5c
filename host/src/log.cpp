#include "orvane/host/log.hpp"

#include <cxxabi.h>
#include <spdlog/sinks/base_sink.h>
#include <spdlog/sinks/dist_sink.h>
#include <spdlog/sinks/stdout_color_sinks.h>

#include <algorithm>
#include <cstdlib>
#include <typeinfo>

namespace orvane::host {
namespace {

constexpr std::string_view kTraceMarker = "\nTraceback: ";

std::string demangle(const char* name) {
  int status = 0;
  char* readable = abi::__cxa_demangle(name, nullptr, nullptr, &status);
  std::string out = (status == 0 && readable != nullptr) ? readable : name;
  std::free(readable);
  return out;
}

// Host sinks: stderr (level from ORVANE_LOG_LEVEL, default info) plus whatever captures attach.
struct Sinks {
  std::shared_ptr<spdlog::sinks::dist_sink_mt> root =
      std::make_shared<spdlog::sinks::dist_sink_mt>();
  spdlog::level::level_enum logger_level = spdlog::level::debug;

  Sinks() {
    auto console = std::make_shared<spdlog::sinks::stderr_color_sink_mt>();
    console->set_level(spdlog::level::info);
    if (const char* level = std::getenv("ORVANE_LOG_LEVEL")) {
      console->set_level(spdlog::level::from_str(level));
    }
    console->set_pattern("%Y-%m-%d %H:%M:%S,%e %l %n: %v");
    root->add_sink(console);
  }
};

Sinks& sinks() {
  static Sinks instance;
  return instance;
}

}  // namespace

std::shared_ptr<spdlog::logger> get_logger(const std::string& name) {
  if (auto existing = spdlog::get(name)) return existing;
  auto logger = std::make_shared<spdlog::logger>(name, sinks().root);
  logger->set_level(sinks().logger_level);
  try {
    spdlog::register_logger(logger);
  } catch (const spdlog::spdlog_ex&) {
    if (auto existing = spdlog::get(name)) return existing;  // lost a registration race
    throw;
  }
  return logger;
}

void set_level(spdlog::level::level_enum level) {
  sinks().logger_level = level;
  spdlog::apply_all([level](const std::shared_ptr<spdlog::logger>& l) { l->set_level(level); });
}

void log_exception(spdlog::logger& logger, std::string_view message, const std::exception& error) {
  std::string text(message);
  text += kTraceMarker;
  text += demangle(typeid(error).name()) + ": " + error.what();
  logger.error(text);
}

void log_exception(spdlog::logger& logger, std::string_view message, std::exception_ptr error) {
  try {
    if (error) std::rethrow_exception(error);
    logger.error(std::string(message));
  } catch (const std::exception& e) {
    log_exception(logger, message, e);
  } catch (...) {
    std::string text(message);
    text += kTraceMarker;
    text += "unknown exception";
    logger.error(text);
  }
}

struct LogCapture::State : spdlog::sinks::base_sink<std::mutex> {
  std::vector<LogRecord> records;

 protected:
  void sink_it_(const spdlog::details::log_msg& msg) override {
    std::string payload(msg.payload.data(), msg.payload.size());
    LogRecord record{std::string(msg.logger_name.data(), msg.logger_name.size()), msg.level,
                     payload, ""};
    if (auto at = payload.find(kTraceMarker); at != std::string::npos) {
      record.message = payload.substr(0, at);
      record.trace = payload.substr(at + kTraceMarker.size());
    }
    records.push_back(std::move(record));
  }
  void flush_() override {}

  friend class LogCapture;
};

LogCapture::LogCapture() : _state(std::make_shared<State>()) {
  sinks().root->add_sink(_state);
}

LogCapture::~LogCapture() {
  sinks().root->remove_sink(_state);
}

std::vector<LogRecord> LogCapture::records() const {
  std::lock_guard lock(_state->mutex_);
  return _state->records;
}

std::vector<LogRecord> LogCapture::records(std::string_view logger) const {
  std::vector<LogRecord> out;
  for (auto& r : records())
    if (r.logger == logger) out.push_back(r);
  return out;
}

bool LogCapture::contains(spdlog::level::level_enum level, std::string_view message) const {
  const auto all = records();
  return std::any_of(all.begin(), all.end(),
                     [&](const LogRecord& r) { return r.level == level && r.message == message; });
}

void LogCapture::clear() {
  std::lock_guard lock(_state->mutex_);
  _state->records.clear();
}

}  // namespace orvane::host
