#include "orvane/host/loop.hpp"

#include <boost/asio/as_tuple.hpp>
#include <boost/asio/bind_cancellation_slot.hpp>
#include <boost/asio/cancellation_signal.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/error.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/system/system_error.hpp>

#include "orvane/host/log.hpp"

namespace orvane::host {
namespace asio = boost::asio;

bool is_cancellation(const std::exception& error) {
  const auto* system = dynamic_cast<const boost::system::system_error*>(&error);
  return system != nullptr && system->code() == asio::error::operation_aborted;
}

bool is_cancellation(const std::exception_ptr& error) {
  if (!error) return false;
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    return is_cancellation(e);
  } catch (...) {
    return false;
  }
}

void throw_cancelled() {
  throw boost::system::system_error(asio::error::operation_aborted);
}

asio::awaitable<asio::any_io_executor> current_executor() {
  co_return co_await asio::this_coro::executor;
}

namespace detail {
// A coroutine parked on a timer that never expires; woken by cancelling the timer.
struct Parked {
  asio::steady_timer timer;
  bool woken = false;
  explicit Parked(asio::any_io_executor executor)
      : timer(std::move(executor), asio::steady_timer::time_point::max()) {}
  void wake() {
    woken = true;
    timer.cancel();
  }
};
}  // namespace detail
using detail::Parked;

namespace {

std::vector<std::weak_ptr<Task>>& task_list() {
  static std::vector<std::weak_ptr<Task>> tasks;
  return tasks;
}

}  // namespace

// --- Task --------------------------------------------------------------------------------------

struct Task::Private {
  asio::cancellation_signal signal;
  bool cancel_requested = false;
  std::vector<std::weak_ptr<Parked>> waiters;

  static void finish(const TaskPtr& task, std::exception_ptr error) {
    task->_done = true;
    task->_error = error;
    auto& live = task_list();
    std::erase_if(live, [&](const std::weak_ptr<Task>& t) {
      auto p = t.lock();
      return !p || p == task;
    });
    bool observed = false;
    for (auto& w : task->_p->waiters) {
      if (auto waiter = w.lock()) {
        observed = true;
        waiter->wake();
      }
    }
    task->_p->waiters.clear();
    if (error && !observed && !is_cancellation(error)) {
      log_exception(*get_logger("orvane.host"), "Task " + task->_name + " failed", error);
    }
  }

  static void start(asio::any_io_executor executor, const TaskPtr& task,
                    asio::awaitable<void> body) {
    asio::co_spawn(
        executor, run(task, std::move(body)),
        asio::bind_cancellation_slot(task->_p->signal.slot(),
                                     [task](std::exception_ptr error) { finish(task, error); }));
  }

  static asio::awaitable<void> run(TaskPtr task, asio::awaitable<void> body) {
    // co_spawn dispatches: called on the loop's own thread it would run the body inside its
    // spawner, before the spawner's next statement. A task starts at the next suspension instead.
    co_await asio::post(co_await asio::this_coro::executor, asio::use_awaitable);
    // A cancellation requested before the first step never reaches the body.
    if (task->_p->cancel_requested) throw_cancelled();
    co_await std::move(body);
  }
};

Task::Task(std::string name) : _name(std::move(name)), _p(std::make_unique<Private>()) {}
Task::~Task() = default;

bool Task::cancelled() const {
  return _done && is_cancellation(_error);
}

void Task::cancel() {
  if (_done) return;
  _p->cancel_requested = true;
  _p->signal.emit(asio::cancellation_type::terminal);
}

asio::awaitable<void> Task::wait() {
  if (!_done) {
    auto parked = std::make_shared<Parked>(co_await asio::this_coro::executor);
    _p->waiters.push_back(parked);
    co_await parked->timer.async_wait(asio::as_tuple(asio::use_awaitable));
    if (!parked->woken) throw_cancelled();  // the awaiting task itself was cancelled
  }
  if (_error) std::rethrow_exception(_error);
}

TaskPtr spawn(asio::any_io_executor executor, std::string name, asio::awaitable<void> body) {
  auto task = std::make_shared<Task>(std::move(name));
  task_list().push_back(task);
  Task::Private::start(std::move(executor), task, std::move(body));
  return task;
}

std::vector<TaskPtr> live_tasks() {
  std::vector<TaskPtr> tasks;
  for (auto& t : task_list())
    if (auto task = t.lock(); task && !task->done()) tasks.push_back(std::move(task));
  return tasks;
}

std::vector<std::string> live_task_names() {
  std::vector<std::string> names;
  for (const auto& task : live_tasks()) names.push_back(task->name());
  return names;
}

// --- Event -------------------------------------------------------------------------------------

struct Event::Waiter : Parked {
  using Parked::Parked;
};

Event::Event(Clock* clock) : _clock(clock) {}

Event::~Event() {
  for (auto& w : _waiters)
    if (auto waiter = w.lock()) waiter->timer.cancel();
}

void Event::set() {
  _set = true;
  for (auto& w : _waiters)
    if (auto waiter = w.lock()) waiter->wake();
  _waiters.clear();
}

void Event::clear() {
  _set = false;
}

asio::awaitable<void> Event::wait() {
  if (_set) co_return;
  auto waiter = std::make_shared<Waiter>(co_await asio::this_coro::executor);
  std::erase_if(_waiters, [](const std::weak_ptr<Waiter>& w) { return w.expired(); });
  _waiters.push_back(waiter);
  co_await waiter->timer.async_wait(asio::as_tuple(asio::use_awaitable));
  if (!waiter->woken) throw_cancelled();
}

asio::awaitable<bool> Event::wait(double timeout_seconds) {
  if (_set) co_return false;
  auto executor = co_await asio::this_coro::executor;
  auto waiter = std::make_shared<Waiter>(executor);
  std::erase_if(_waiters, [](const std::weak_ptr<Waiter>& w) { return w.expired(); });
  _waiters.push_back(waiter);
  bool timed_out = false;
  Clock& clock_ref = _clock != nullptr ? *_clock : clock();
  auto alarm = clock_ref.schedule(executor, timeout_seconds, [&timed_out, w = waiter.get()] {
    timed_out = true;
    w->timer.cancel();
  });
  co_await waiter->timer.async_wait(asio::as_tuple(asio::use_awaitable));
  if (waiter->woken) co_return false;
  if (timed_out) co_return true;
  throw_cancelled();
}

asio::awaitable<void> sleep(double seconds) {
  co_await clock().sleep(seconds);
}

}  // namespace orvane::host
