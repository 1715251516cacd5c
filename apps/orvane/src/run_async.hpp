#pragma once
// Runs a coroutine to its end on an event loop of the command's own.
#include <boost/asio/awaitable.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/io_context.hpp>
#include <exception>
#include <optional>
#include <type_traits>
#include <utility>

namespace orvane::app {

// Calls the coroutine lambda `f` on `io` and runs `io` until no work is left (tasks the coroutine
// started included); returns its result or rethrows its error. `f` lives here for the whole run,
// so the coroutine may use its captures.
template <class F>
auto run_async(boost::asio::io_context& io, F f) {
  using T = typename decltype(f())::value_type;
  std::exception_ptr failure;
  if constexpr (std::is_void_v<T>) {
    boost::asio::co_spawn(io, f(), [&](std::exception_ptr error) { failure = error; });
    io.run();
    if (failure) std::rethrow_exception(failure);
  } else {
    std::optional<T> result;
    boost::asio::co_spawn(io, f(), [&](std::exception_ptr error, T value) {
      failure = error;
      if (!error) result = std::move(value);
    });
    io.run();
    if (failure) std::rethrow_exception(failure);
    return std::move(*result);
  }
}

template <class F>
auto run_async(F f) {
  boost::asio::io_context io;
  return run_async(io, std::move(f));
}

}  // namespace orvane::app
