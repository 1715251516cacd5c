#include "model.hpp"

#include <cstdlib>

#include "orvane/host/llm_openai.hpp"
#include "output.hpp"

namespace orvane::app {
namespace {

constexpr double TEMPERATURE = 0.7;
constexpr int MAX_TOKENS = 2048;

class NoModel final : public host::LlmClient {
 public:
  boost::asio::awaitable<host::LlmResponse> complete(nlohmann::ordered_json, double, int) override {
    throw host::LlmError("no model configured: ORVANE_LLM_URL is not set");
    co_return host::LlmResponse{};
  }
};

}  // namespace

bool model_configured() {
  const char* url = std::getenv("ORVANE_LLM_URL");
  return url != nullptr && *url != '\0';
}

std::unique_ptr<host::LlmClient> make_model_client() {
  if (!model_configured()) return std::make_unique<NoModel>();
  try {
    return std::make_unique<host::OpenAiClient>(host::OpenAiConfig::from_env());
  } catch (const host::LlmError& error) {
    throw Failure(error.what());
  }
}

boost::asio::awaitable<std::string> ask_model(host::LlmClient& client, std::string prompt) {
  Json messages = Json::array();
  Json message = Json::object();
  message["role"] = "user";
  message["content"] = std::move(prompt);
  messages.push_back(std::move(message));
  const host::LlmResponse reply =
      co_await client.complete(std::move(messages), TEMPERATURE, MAX_TOKENS);
  co_return reply.content.value_or("");
}

}  // namespace orvane::app
