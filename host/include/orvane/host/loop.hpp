#pragma once
// Event loop services on Boost.Asio C++20 coroutines: named tasks, cancellation, an async event.
// Everything runs on one single-threaded io_context; nothing here is thread-safe.
#include "orvane/host/asio_threads.hpp"  // first: see there

#include <boost/asio/any_io_executor.hpp>
#include <boost/asio/awaitable.hpp>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "orvane/host/clock.hpp"

namespace orvane::host {

// True when `error` is the cancellation of a task (system_error with operation_aborted).
bool is_cancellation(const std::exception_ptr& error);
bool is_cancellation(const std::exception& error);
// Throws the cancellation error.
[[noreturn]] void throw_cancelled();

// A running coroutine with a name. Made by spawn(); starts at the spawner's next suspension.
class Task : public std::enable_shared_from_this<Task> {
 public:
  const std::string& name() const { return _name; }
  bool done() const { return _done; }
  // True when the task ended by cancellation.
  bool cancelled() const;
  // The error the task ended with (a cancellation counts), or null.
  std::exception_ptr error() const { return _error; }

  // Requests cancellation: the task's pending wait ends with the cancellation error.
  void cancel();
  // Awaits the end of the task; rethrows its error (the cancellation error when it was
  // cancelled). Cancelling the awaiting task ends this wait with the cancellation error, without
  // touching the awaited task.
  boost::asio::awaitable<void> wait();

  struct Private;
  explicit Task(std::string name);
  ~Task();

 private:
  friend struct Private;
  std::string _name;
  bool _done = false;
  std::exception_ptr _error;
  std::unique_ptr<Private> _p;
};

using TaskPtr = std::shared_ptr<Task>;

// Starts `body` as a task named `name`, always at the caller's next suspension, never inside the
// caller (also when called on the loop's own thread). An error that ends the task while nobody
// awaits it is logged on "orvane.host" ("Task <name> failed: ..."), never dropped silently;
// cancellation is not.
TaskPtr spawn(boost::asio::any_io_executor executor, std::string name,
              boost::asio::awaitable<void> body);

// Runs the coroutine lambda `f`, keeping it (and so its captures) alive until it ends. A coroutine
// lambda called as a temporary, spawn(ex, "x", [&]() -> awaitable<void> {...}()), would read its
// captures from a destroyed closure.
template <class F>
boost::asio::awaitable<void> run_owned(F f) {
  co_await f();
}

// The tasks that have started and not yet ended, in start order (asyncio.all_tasks), so that a
// host can cancel one it did not spawn itself.
std::vector<TaskPtr> live_tasks();
// Their names.
std::vector<std::string> live_task_names();

// The executor of the calling coroutine.
boost::asio::awaitable<boost::asio::any_io_executor> current_executor();

// An asynchronous flag (asyncio.Event): wait() suspends until set().
class Event {
 public:
  explicit Event(Clock* clock = nullptr);  // null: the process-wide clock()
  ~Event();
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  void set();
  void clear();
  bool is_set() const { return _set; }
  boost::asio::awaitable<void> wait();
  // Waits at most `timeout_seconds` on the clock; returns true when it timed out, false when the
  // flag was set.
  boost::asio::awaitable<bool> wait(double timeout_seconds);

  struct Waiter;

 private:
  Clock* _clock;
  bool _set = false;
  std::vector<std::weak_ptr<Waiter>> _waiters;
};

// Sleeps on the process-wide clock.
boost::asio::awaitable<void> sleep(double seconds);

}  // namespace orvane::host
