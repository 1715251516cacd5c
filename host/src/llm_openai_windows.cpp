#include <windows.h>
#include <winhttp.h>

#include <spdlog/fmt/fmt.h>

#include <algorithm>
#include <atomic>
#include <boost/asio/as_tuple.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/system/system_error.hpp>
#include <chrono>
#include <mutex>
#include <thread>

#include "llm_openai_parts.hpp"
#include "win_text.hpp"

namespace orvane::host {
namespace asio = boost::asio;

struct OpenAiClient::Endpoint {
  llm::BaseUrl base;
};

OpenAiClient::OpenAiClient(OpenAiConfig config)
    : _config(std::move(config)),
      _endpoint(std::make_unique<Endpoint>(Endpoint{llm::parse_base_url(_config.base_url)})) {
  if (!_config.ca_file.empty()) {
    // WinHTTP trusts the Windows certificate store only.
    throw LlmError("cannot use the LLM CA file \"" + _config.ca_file +
                   "\" on Windows: add the CA to the certificate store instead (certutil -user "
                   "-addstore Root <file>) and leave ORVANE_LLM_CA_FILE unset");
  }
  llm::check_timeout(_config.timeout_seconds);
}

OpenAiClient::~OpenAiClient() = default;

namespace {

enum class Step { Connecting, Sending, Reading };

const char* step_text(Step step) {
  switch (step) {
    case Step::Connecting:
      return "connecting";
    case Step::Sending:
      return "sending the request";
    case Step::Reading:
      return "reading the reply";
  }
  return "";
}

struct Reply {
  unsigned status = 0;
  std::string reason;
  std::string body;
  DWORD error = 0;  // nonzero: the request failed at `step`
  std::string error_message;
};

// One request, made with WinHTTP's blocking calls on a thread of its own, so that the caller's
// event loop never waits. The loop abandons it on cancellation or time-out by closing the
// request handle, which ends whatever call the thread is in.
struct Exchange {
  std::mutex mutex;
  HINTERNET request = nullptr;  // closed once, by whoever comes first
  bool abandoned = false;       // the awaiting coroutine is gone or no longer waits
  std::atomic<Step> step{Step::Connecting};

  void close_request() {
    std::lock_guard lock(mutex);
    if (request != nullptr) ::WinHttpCloseHandle(std::exchange(request, nullptr));
  }
  void abandon() {
    std::lock_guard lock(mutex);
    abandoned = true;
    if (request != nullptr) ::WinHttpCloseHandle(std::exchange(request, nullptr));
  }
  // Runs `post` unless the coroutine is gone: the loop (and its executor) may be gone with it.
  template <class F>
  void deliver(F post) {
    std::lock_guard lock(mutex);
    if (!abandoned) post();
  }
};

// Abandons the exchange when the awaiting coroutine ends, however it ends.
struct AbandonOnExit {
  std::shared_ptr<Exchange> exchange;
  std::shared_ptr<bool> waiting;
  ~AbandonOnExit() {
    *waiting = false;
    exchange->abandon();
  }
};

struct InternetHandle {
  HINTERNET h = nullptr;
  ~InternetHandle() {
    if (h != nullptr) ::WinHttpCloseHandle(h);
  }
};

Reply failed(Step step, DWORD error) {
  Reply reply;
  reply.error = error;
  if (error == ERROR_WINHTTP_NAME_NOT_RESOLVED) {
    reply.error_message = "resolving the host";
  } else if (error == ERROR_WINHTTP_CANNOT_CONNECT || error == ERROR_WINHTTP_CONNECTION_ERROR) {
    reply.error_message = step == Step::Reading ? step_text(step) : "connecting";
  } else if (error == ERROR_WINHTTP_SECURE_FAILURE) {
    reply.error_message = "performing the TLS handshake";
  } else {
    reply.error_message = step_text(step);
  }
  return reply;
}

std::wstring header_text(HINTERNET request, DWORD query) {
  DWORD bytes = 0;
  ::WinHttpQueryHeaders(request, query, WINHTTP_HEADER_NAME_BY_INDEX, nullptr, &bytes,
                        WINHTTP_NO_HEADER_INDEX);
  std::wstring text(bytes / sizeof(wchar_t) + 1, L'\0');
  if (!::WinHttpQueryHeaders(request, query, WINHTTP_HEADER_NAME_BY_INDEX, text.data(), &bytes,
                             WINHTTP_NO_HEADER_INDEX)) {
    return {};
  }
  text.resize(bytes / sizeof(wchar_t));
  return text;
}

Reply perform(Exchange& exchange, const llm::BaseUrl& base, const std::string& api_key,
              const std::string& body, DWORD timeout_ms) {
  // The system's proxy settings (WPAD and configuration scripts where the system has them).
  InternetHandle session{::WinHttpOpen(L"orvane", WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY,
                                       WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0)};
  if (session.h == nullptr) {
    session.h = ::WinHttpOpen(L"orvane", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                              WINHTTP_NO_PROXY_BYPASS, 0);
  }
  if (session.h == nullptr) return failed(Step::Connecting, ::GetLastError());
  // A backstop per phase; the caller's deadline covers the whole request.
  const int phase_ms = static_cast<int>(timeout_ms);
  ::WinHttpSetTimeouts(session.h, phase_ms, phase_ms, phase_ms, phase_ms);

  const auto port = static_cast<INTERNET_PORT>(std::stoi(base.port));
  InternetHandle connection{::WinHttpConnect(session.h, win::wide(base.host).c_str(), port, 0)};
  if (connection.h == nullptr) return failed(Step::Connecting, ::GetLastError());
  // The handle stays valid while this thread uses it unless the loop abandons the request; then
  // every call fails, and nobody reads the result. It is closed before the connection and the
  // session, children before their parents.
  struct CloseRequestFirst {
    Exchange& exchange;
    ~CloseRequestFirst() { exchange.close_request(); }
  } close_first{exchange};
  HINTERNET request = nullptr;
  {
    std::lock_guard lock(exchange.mutex);
    if (exchange.abandoned) return failed(Step::Connecting, ERROR_WINHTTP_OPERATION_CANCELLED);
    request = exchange.request = ::WinHttpOpenRequest(
        connection.h, L"POST", win::wide(base.target).c_str(), nullptr, WINHTTP_NO_REFERER,
        WINHTTP_DEFAULT_ACCEPT_TYPES, base.tls ? WINHTTP_FLAG_SECURE : 0);
    if (exchange.request == nullptr) return failed(Step::Connecting, ::GetLastError());
    // As the Linux client: a redirect is an answer, not something to follow.
    DWORD never = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
    ::WinHttpSetOption(exchange.request, WINHTTP_OPTION_REDIRECT_POLICY, &never, sizeof never);
    // Every request has a session of its own, so a kept-alive connection would never be reused.
    DWORD no_keep_alive = WINHTTP_DISABLE_KEEP_ALIVE;
    ::WinHttpSetOption(exchange.request, WINHTTP_OPTION_DISABLE_FEATURE, &no_keep_alive,
                       sizeof no_keep_alive);
  }

  std::string headers = "Content-Type: application/json\r\nAccept: application/json\r\n";
  if (!api_key.empty()) headers += "Authorization: Bearer " + api_key + "\r\n";
  const std::wstring wide_headers = win::wide(headers);
  const auto size = static_cast<DWORD>(body.size());
  exchange.step = Step::Sending;
  if (!::WinHttpSendRequest(request, wide_headers.c_str(), static_cast<DWORD>(wide_headers.size()),
                            const_cast<char*>(body.data()), size, size, 0)) {
    return failed(Step::Sending, ::GetLastError());
  }
  exchange.step = Step::Reading;
  if (!::WinHttpReceiveResponse(request, nullptr)) return failed(Step::Reading, ::GetLastError());

  Reply reply;
  DWORD status = 0;
  DWORD status_size = sizeof status;
  if (!::WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &status_size,
                             WINHTTP_NO_HEADER_INDEX)) {
    return failed(Step::Reading, ::GetLastError());
  }
  reply.status = status;
  reply.reason = win::utf8(header_text(request, WINHTTP_QUERY_STATUS_TEXT));
  for (;;) {
    char chunk[65536];
    DWORD n = 0;
    if (!::WinHttpReadData(request, chunk, sizeof chunk, &n))
      return failed(Step::Reading, ::GetLastError());
    if (n == 0) break;
    if (reply.body.size() + n > llm::BODY_LIMIT) {
      Reply too_big;
      too_big.error = ERROR_WINHTTP_INVALID_SERVER_RESPONSE;
      too_big.error_message = "reading the reply: body limit exceeded";
      return too_big;
    }
    reply.body.append(chunk, n);
  }
  return reply;
}

[[noreturn]] void throw_failure(const std::string& url, const Reply& reply, double timeout) {
  if (reply.error == ERROR_WINHTTP_TIMEOUT) {
    throw LlmError(fmt::format("LLM request to {} timed out after {:g} s while {}", url, timeout,
                               reply.error_message));
  }
  if (reply.error_message.find(':') != std::string::npos) {
    throw LlmError(fmt::format("LLM request to {} failed while {}", url, reply.error_message));
  }
  throw LlmError(fmt::format("LLM request to {} failed while {}: {}", url, reply.error_message,
                             win::error_text(reply.error, ::GetModuleHandleW(L"winhttp.dll"))));
}

}  // namespace

asio::awaitable<LlmResponse> OpenAiClient::complete(nlohmann::ordered_json messages,
                                                    double temperature, int max_tokens) {
  const double timeout = _config.timeout_seconds;
  const auto limit = std::chrono::duration<double>(std::min(timeout, llm::MAX_TIMEOUT_SECONDS));
  const auto timeout_ms = static_cast<DWORD>(
      std::clamp(std::chrono::duration_cast<std::chrono::milliseconds>(limit).count() + 1,
                 std::chrono::milliseconds::rep{1}, std::chrono::milliseconds::rep{0x7fffffff}));
  std::string body = llm::request_body(_config, std::move(messages), temperature, max_tokens);

  const auto executor = co_await asio::this_coro::executor;
  // Wakes the coroutine at the deadline, or earlier when the thread posts its reply.
  asio::steady_timer wake(executor,
                          std::chrono::duration_cast<asio::steady_timer::duration>(limit));
  auto exchange = std::make_shared<Exchange>();
  auto reply = std::make_shared<std::optional<Reply>>();
  auto waiting = std::make_shared<bool>(true);
  AbandonOnExit abandon_on_exit{exchange, waiting};
  std::thread([exchange, reply, waiting, &wake, executor, base = _endpoint->base,
               key = _config.api_key, body = std::move(body), timeout_ms]() mutable {
    Reply result = perform(*exchange, base, key, body, timeout_ms);
    exchange->deliver([&] {
      // `waiting` and `wake` are touched on the loop only.
      asio::post(executor, [reply, waiting, &wake, result = std::move(result)]() mutable {
        if (!*waiting) return;
        *reply = std::move(result);
        wake.cancel();
      });
    });
  }).detach();

  auto [wait_error] = co_await wake.async_wait(asio::as_tuple(asio::use_awaitable));
  *waiting = false;
  const std::string& url = _endpoint->base.url;
  if (!reply->has_value()) {
    exchange->abandon();  // the thread's call ends, and its reply is dropped
    if (wait_error == asio::error::operation_aborted) throw boost::system::system_error(wait_error);
    throw LlmError(fmt::format("LLM request to {} timed out after {:g} s while {}", url, timeout,
                               step_text(exchange->step)));
  }
  if ((*reply)->error != 0) throw_failure(url, **reply, timeout);
  co_return llm::read_completion((*reply)->status, (*reply)->reason, (*reply)->body, url);
}

}  // namespace orvane::host
