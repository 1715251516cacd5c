#pragma once
// Host configuration.
#include <filesystem>

namespace orvane::host {

// The user's home directory: $HOME, else the password database entry. Throws std::runtime_error
// when neither gives one.
std::filesystem::path home_dir();

// The per-user data directory, ~/.orvane (not created here).
std::filesystem::path orvane_dir();

}  // namespace orvane::host
