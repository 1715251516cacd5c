#include "cli.hpp"

#include "orvane/common/path_text.hpp"
#include "orvane/host/config.hpp"

namespace orvane::app {

std::filesystem::path Cli::data_dir() const {
  if (data_dir_option) return common::path_from_utf8(*data_dir_option);
  return host::orvane_dir();
}

void Cli::check_data_dir() const {
  namespace fs = std::filesystem;
  if (data_dir_option && data_dir_option->empty()) throw UsageError("--data-dir is empty");
  // The directory is made on demand; what exists of its path must be directories.
  const fs::path dir = fs::absolute(data_dir());
  std::error_code error;
  for (fs::path at = dir;; at = at.parent_path()) {
    const auto status = fs::status(at, error);
    if (status.type() == fs::file_type::not_found && at != at.parent_path()) continue;
    if (error || fs::is_directory(status)) return;  // other errors: the command meets them itself
    const std::string message =
        (data_dir_option ? "--data-dir " : "data directory ") + dir.string() +
        (at == dir ? " is not a directory"
                   : " cannot be made: " + at.string() + " is not a directory");
    if (data_dir_option) throw UsageError(message);
    throw Failure(message);
  }
}

void Cli::on(CLI::App* sub, std::function<void()> body) {
  sub->callback([this, body = std::move(body)] { action = body; });
}

}  // namespace orvane::app
