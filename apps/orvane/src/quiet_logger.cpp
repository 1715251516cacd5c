#include "quiet_logger.hpp"

#include <spdlog/sinks/base_sink.h>

#include <mutex>

namespace orvane::app {

struct QuietLogger::Keeper : spdlog::sinks::base_sink<std::mutex> {
  std::vector<std::string> kept() {
    std::lock_guard lock(mutex_);
    return problems;
  }

 protected:
  void sink_it_(const spdlog::details::log_msg& message) override {
    if (message.level < spdlog::level::warn) return;
    problems.emplace_back(message.payload.data(), message.payload.size());
  }
  void flush_() override {}

 private:
  std::vector<std::string> problems;
};

QuietLogger::QuietLogger(const std::string& name)
    : _logger(host::get_logger(name)), _keeper(std::make_shared<Keeper>()) {
  _sinks = _logger->sinks();
  _logger->sinks() = {_keeper};
}

QuietLogger::~QuietLogger() {
  _logger->sinks() = _sinks;
}

std::vector<std::string> QuietLogger::problems() const {
  return _keeper->kept();
}

}  // namespace orvane::app
