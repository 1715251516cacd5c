#include "orvane/host/llm_openai.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <boost/asio/as_tuple.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>

#include "orvane/host/loop.hpp"
#include "orvane/host/process.hpp"
#include "support/http_test_server.hpp"

namespace orvane::host {
namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using Json = nlohmann::ordered_json;
using testing::reply;
using testing::Request;
using testing::Response;
using testing::TestServer;

constexpr auto as_result = asio::as_tuple(asio::use_awaitable);

Response completion(const Json& content) {
  Json body = {{"id", "c1"},
               {"object", "chat.completion"},
               {"choices", Json::array({{{"index", 0},
                                         {"message", {{"role", "assistant"}, {"content", content}}},
                                         {"finish_reason", "stop"}}})}};
  return reply(http::status::ok, body.dump());
}

// Runs `work` on `io` to its end and returns its result, or rethrows its error.
template <class T>
T run(asio::io_context& io, asio::awaitable<T> work) {
  std::optional<T> result;
  std::exception_ptr failure;
  asio::co_spawn(io, std::move(work), [&](std::exception_ptr error, T value) {
    failure = error;
    if (!error) result = std::move(value);
    io.stop();
  });
  io.run();
  if (failure) std::rethrow_exception(failure);
  return std::move(*result);
}

OpenAiConfig config_for(const std::string& base_url, double timeout = 5.0) {
  return OpenAiConfig{base_url, "test-model", "secret-key", timeout};
}

Json chat() {
  return Json::array(
      {{{"role", "system"}, {"content", "Be brief."}}, {{"role", "user"}, {"content", "Größe?"}}});
}

// Runs `work` and returns the LlmError message it must fail with.
std::string error_of(asio::io_context& io, asio::awaitable<LlmResponse> work) {
  try {
    run(io, std::move(work));
  } catch (const LlmError& error) {
    return error.what();
  }
  ADD_FAILURE() << "the call did not fail with LlmError";
  return {};
}

TEST(OpenAiClient, PostsTheChatCompletionRequestAndReturnsTheFirstChoice) {
  asio::io_context io;
  TestServer server(io, [](const Request&) { return completion("Kurz: 42."); });
  OpenAiClient client(config_for(server.base_url() + "/"));

  const LlmResponse response = run(io, client.complete(chat(), 0.2, 2048));

  EXPECT_EQ(response.content, "Kurz: 42.");
  ASSERT_EQ(server.requests.size(), 1u);
  const Request& request = server.requests[0];
  EXPECT_EQ(request.method(), http::verb::post);
  EXPECT_EQ(request.target(), "/v1/chat/completions");
  EXPECT_EQ(request[http::field::authorization], "Bearer secret-key");
  EXPECT_EQ(request[http::field::content_type], "application/json");
  EXPECT_EQ(Json::parse(request.body()), Json({{"model", "test-model"},
                                               {"messages", chat()},
                                               {"temperature", 0.2},
                                               {"max_tokens", 2048}}));
}

TEST(OpenAiClient, LeavesOutTheKeyAndModelWhenNotConfigured) {
  asio::io_context io;
  TestServer server(io, [](const Request&) { return completion(nullptr); });
  OpenAiClient client(OpenAiConfig{server.base_url(), "", "", 5.0});

  const LlmResponse response = run(io, client.complete(chat(), 0.5, 10));

  EXPECT_EQ(response.content, std::nullopt);  // a null content is no reply, not "null"
  ASSERT_EQ(server.requests.size(), 1u);
  EXPECT_EQ(server.requests[0].count(http::field::authorization), 0u);
  EXPECT_FALSE(Json::parse(server.requests[0].body()).contains("model"));
}

TEST(OpenAiClient, ReportsAnErrorStatusWithTheStartOfTheBody) {
  asio::io_context io;
  TestServer server(io, [](const Request&) {
    return reply(http::status::internal_server_error, "model exploded\n" + std::string(300, 'x'));
  });
  OpenAiClient client(config_for(server.base_url()));

  const std::string message = error_of(io, client.complete(chat(), 0.2, 2048));

  EXPECT_EQ(message, "LLM server at " + server.base_url() +
                         "/chat/completions answered 500 Internal Server Error: model exploded " +
                         std::string(185, 'x') + "...");
}

TEST(OpenAiClient, ReportsRepliesThatAreNotChatCompletions) {
  asio::io_context io;
  const std::string deep_content = R"({"choices": [{"message": {"content": )" +
                                   std::string(100000, '[') + std::string(100000, ']') + "}}]}";
  std::vector<std::string> bodies = {
      "<html>busy</html>", R"({"error": "no model loaded"})", R"({"choices": []})",
      R"({"choices": [{"message": {"content": [1, 2]}}]})", deep_content};
  std::size_t next = 0;
  TestServer server(io, [&](const Request&) { return reply(http::status::ok, bodies[next++]); });
  OpenAiClient client(config_for(server.base_url()));
  const std::string at = "LLM server at " + server.base_url() + "/chat/completions ";

  EXPECT_EQ(error_of(io, client.complete(chat(), 0.2, 10)),
            at + "sent a reply that is not JSON: <html>busy</html>");
  io.restart();
  EXPECT_EQ(error_of(io, client.complete(chat(), 0.2, 10)),
            at + R"(sent a reply without choices[0].message: {"error": "no model loaded"})");
  io.restart();
  EXPECT_EQ(error_of(io, client.complete(chat(), 0.2, 10)),
            at + R"(sent a reply without choices[0].message: {"choices": []})");
  io.restart();
  EXPECT_EQ(error_of(io, client.complete(chat(), 0.2, 10)),
            at + "sent a message content that is not text: [1,2]");
  io.restart();
  EXPECT_EQ(
      error_of(io, client.complete(chat(), 0.2, 10)),
      at + "sent a reply nested more than 512 levels deep: " + deep_content.substr(0, 200) + "...");
}

TEST(OpenAiClient, TimesOutWhenTheServerNeverAnswers) {
  asio::io_context io;
  TestServer server(io, [](const Request&) { return std::nullopt; });
  OpenAiClient client(config_for(server.base_url(), 0.3));

  const auto start = std::chrono::steady_clock::now();
  const std::string message = error_of(io, client.complete(chat(), 0.2, 10));
  const double waited =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

  EXPECT_EQ(message, "LLM request to " + server.base_url() +
                         "/chat/completions timed out after 0.3 s while reading the reply");
  EXPECT_GE(waited, 0.25);
  EXPECT_LT(waited, 3.0);
}

TEST(OpenAiClient, ReportsARefusedConnection) {
  asio::io_context io;
  unsigned short port = 0;
  {
    tcp::acceptor closed(io, {asio::ip::make_address("127.0.0.1"), 0});
    port = closed.local_endpoint().port();
  }
  const std::string base_url = "http://127.0.0.1:" + std::to_string(port) + "/v1";
  OpenAiClient client(config_for(base_url));

  EXPECT_EQ(error_of(io, client.complete(chat(), 0.2, 10)),
            "LLM request to " + base_url +
                "/chat/completions failed while connecting: " + "Connection refused");
}

// A coroutine of its own (not a lambda) so that nothing it uses dies with a temporary.
asio::awaitable<void> call_into(OpenAiClient& client, std::optional<LlmResponse>& response) {
  response = co_await client.complete(chat(), 0.2, 10);
}

TEST(OpenAiClient, CancellingTheAwaitingTaskAbortsThePendingRequest) {
  asio::io_context io;
  TestServer server(io, [](const Request&) { return std::nullopt; });
  OpenAiClient client(config_for(server.base_url(), 30.0));
  std::optional<LlmResponse> response;
  TaskPtr task = spawn(io.get_executor(), "llm-call", call_into(client, response));
  asio::steady_timer timer(io, std::chrono::milliseconds(200));
  timer.async_wait([&](boost::system::error_code) { task->cancel(); });

  while (!task->done()) io.run_one();

  EXPECT_TRUE(task->cancelled());
  EXPECT_FALSE(response.has_value());
  EXPECT_EQ(server.requests.size(), 1u);  // the request was pending, not refused
}

// A Python HTTPS server with a fresh self-signed certificate for "localhost", answering every
// POST with one completion.
class PythonTlsServer {
 public:
  PythonTlsServer() {
    char pattern[] = "/tmp/orvane-llm-tls-XXXXXX";
    _dir = ::mkdtemp(pattern);
    cert = (_dir / "cert.pem").string();
    const std::string key = (_dir / "key.pem").string();
    run_process(
        {"openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert,
         "-days", "1", "-subj", "/CN=localhost", "-addext", "subjectAltName=DNS:localhost"},
        {.timeout_seconds = 60, .capture_output = true, .check = true});
    int fds[2];
    if (::pipe(fds) != 0) throw std::runtime_error("pipe failed");
    _pid = ::fork();
    if (_pid == 0) {
      ::dup2(fds[1], STDOUT_FILENO);
      ::close(fds[0]);
      ::close(fds[1]);
      ::execlp("python3", "python3", "-c", SCRIPT, cert.c_str(), key.c_str(), nullptr);
      ::_exit(127);
    }
    ::close(fds[1]);
    std::string line;
    char c = 0;
    while (::read(fds[0], &c, 1) == 1 && c != '\n') line += c;
    ::close(fds[0]);
    port = line;
  }
  ~PythonTlsServer() {
    if (_pid > 0) {
      ::kill(_pid, SIGTERM);
      ::waitpid(_pid, nullptr, 0);
    }
    std::filesystem::remove_all(_dir);
  }

  std::string cert;
  std::string port;  // empty when the server did not start

 private:
  static constexpr const char* SCRIPT = R"(
import http.server, json, ssl, sys
class Handler(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        self.rfile.read(int(self.headers["Content-Length"]))
        body = json.dumps({"choices": [{"message": {"content": "over TLS"}}]}).encode()
        self.send_response(200)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)
    def log_message(self, *args):
        pass
server = http.server.HTTPServer(("127.0.0.1", 0), Handler)
context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
context.load_cert_chain(sys.argv[1], sys.argv[2])
server.socket = context.wrap_socket(server.socket, server_side=True)
print(server.server_address[1], flush=True)
server.serve_forever()
)";
  std::filesystem::path _dir;
  pid_t _pid = -1;
};

TEST(OpenAiClient, SpeaksHttpsOnlyToAServerWithAValidCertificateForItsName) {
  if (!program_exists("openssl") || !program_exists("python3")) GTEST_SKIP() << "needs openssl";
  PythonTlsServer server;
  ASSERT_FALSE(server.port.empty());
  const std::string url = "https://localhost:" + server.port + "/v1";
  asio::io_context io;

  OpenAiClient untrusted(config_for(url));
  EXPECT_THAT(error_of(io, untrusted.complete(chat(), 0.2, 10)),
              ::testing::HasSubstr("performing the TLS handshake: certificate verify failed"));

  OpenAiConfig trusted = config_for(url);
  trusted.ca_file = server.cert;
  OpenAiClient client(trusted);
  io.restart();
  EXPECT_EQ(run(io, client.complete(chat(), 0.2, 10)).content, "over TLS");

  // The certificate names "localhost", not the address.
  trusted.base_url = "https://127.0.0.1:" + server.port + "/v1";
  OpenAiClient by_address(trusted);
  io.restart();
  EXPECT_THAT(error_of(io, by_address.complete(chat(), 0.2, 10)),
              ::testing::HasSubstr("certificate verify failed"));
}

TEST(OpenAiConfig, ReadsTheEnvironment) {
  setenv("ORVANE_LLM_URL", "https://llm.example.org/v1", 1);
  setenv("ORVANE_LLM_MODEL", "qwen", 1);
  setenv("ORVANE_LLM_API_KEY", "k-1", 1);
  setenv("ORVANE_LLM_TIMEOUT", "12.5", 1);
  const OpenAiConfig config = OpenAiConfig::from_env();
  EXPECT_EQ(config.base_url, "https://llm.example.org/v1");
  EXPECT_EQ(config.model, "qwen");
  EXPECT_EQ(config.api_key, "k-1");
  EXPECT_EQ(config.timeout_seconds, 12.5);

  setenv("ORVANE_LLM_TIMEOUT", "soon", 1);
  EXPECT_THROW(OpenAiConfig::from_env(), LlmError);
  setenv("ORVANE_LLM_TIMEOUT", "-1", 1);
  EXPECT_THROW(OpenAiConfig::from_env(), LlmError);
  unsetenv("ORVANE_LLM_TIMEOUT");
  EXPECT_EQ(OpenAiConfig::from_env().timeout_seconds, 120.0);
  unsetenv("ORVANE_LLM_URL");
  EXPECT_THROW(OpenAiConfig::from_env(), LlmError);
  unsetenv("ORVANE_LLM_MODEL");
  unsetenv("ORVANE_LLM_API_KEY");
}

TEST(OpenAiConfig, RejectsBaseUrlsItCannotReach) {
  for (const char* url : {"ftp://host/v1", "127.0.0.1:8080/v1", "http:///v1", "http://host:0/v1",
                          "http://host:99999", "http://user@host/v1", "http://[::1/v1"}) {
    EXPECT_THROW(OpenAiClient(OpenAiConfig{url, "", "", 5.0}), LlmError) << url;
  }
  EXPECT_THROW(OpenAiClient(OpenAiConfig{"http://host/v1", "", "", 0.0}), LlmError);
  EXPECT_THROW(OpenAiClient(OpenAiConfig{"https://host/v1", "", "", 5.0, "/no/such/ca.pem"}),
               LlmError);
  EXPECT_NO_THROW(OpenAiClient(OpenAiConfig{"http://[::1]:8080", "", "", 5.0}));
}

}  // namespace
}  // namespace orvane::host
