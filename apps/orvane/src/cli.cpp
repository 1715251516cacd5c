#include "cli.hpp"

#include "orvane/host/config.hpp"

namespace orvane::app {

std::filesystem::path Cli::data_dir() const {
  if (data_dir_option) return *data_dir_option;
  return host::orvane_dir();
}

void Cli::on(CLI::App* sub, std::function<void()> body) {
  sub->callback([this, body = std::move(body)] { action = body; });
}

}  // namespace orvane::app
