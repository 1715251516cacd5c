#pragma once
// Standard base64 (with padding) back to bytes, as the executor sends images to the model.
#include <optional>
#include <string>

namespace orvane::app {

// nullopt when `text` is not padded standard base64.
std::optional<std::string> base64_decode(const std::string& text);

}  // namespace orvane::app
