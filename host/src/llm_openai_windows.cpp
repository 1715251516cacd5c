#include "llm_openai_parts.hpp"

namespace orvane::host {

struct OpenAiClient::Endpoint {};

OpenAiClient::OpenAiClient(OpenAiConfig config) : _config(std::move(config)) {
  throw LlmError("the model client is not built for Windows yet");
}

OpenAiClient::~OpenAiClient() = default;

boost::asio::awaitable<LlmResponse> OpenAiClient::complete(nlohmann::ordered_json, double, int) {
  throw LlmError("the model client is not built for Windows yet");
  co_return LlmResponse{};
}

}  // namespace orvane::host
