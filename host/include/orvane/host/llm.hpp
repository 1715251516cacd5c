#pragma once
// The host's language-model client, as the components see it.
#include "orvane/host/asio_threads.hpp"  // first: see there

#include <boost/asio/awaitable.hpp>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

namespace orvane::host {

struct LlmResponse {
  std::optional<std::string> content;  // the reply text; nullopt when the model sent null
};

class LlmClient {
 public:
  virtual ~LlmClient() = default;
  // One chat completion. `messages` is a JSON array of {"role", "content"} objects. Throws on
  // failure (transport, status, malformed answer, time-out).
  virtual boost::asio::awaitable<LlmResponse> complete(nlohmann::ordered_json messages,
                                                       double temperature, int max_tokens) = 0;
};

}  // namespace orvane::host
