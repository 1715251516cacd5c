#include "orvane/host/clock.hpp"

#include <boost/asio/as_tuple.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <chrono>
#include <cmath>
#include <ctime>

#include "orvane/host/loop.hpp"
#include "system_time.hpp"

namespace orvane::host {
namespace asio = boost::asio;

LocalTime Clock::local_now() const {
  const double now = time();
  const double whole = std::floor(now);
  auto micros = static_cast<std::int64_t>(std::llround((now - whole) * 1e6));
  auto secs = static_cast<std::time_t>(whole);
  if (micros >= 1000000) {  // rounding carried into the next second
    micros -= 1000000;
    ++secs;
  }
  const std::tm tm = local_tm(secs);
  using namespace std::chrono;
  const local_days day{year{tm.tm_year + 1900} / month{static_cast<unsigned>(tm.tm_mon + 1)} /
                       static_cast<unsigned>(tm.tm_mday)};
  return LocalTime{day} + hours{tm.tm_hour} + minutes{tm.tm_min} + seconds{tm.tm_sec} +
         microseconds{micros};
}

asio::awaitable<void> Clock::sleep(double seconds) {
  auto executor = co_await asio::this_coro::executor;
  asio::steady_timer timer(executor, asio::steady_timer::time_point::max());
  bool fired = false;
  auto alarm = schedule(executor, seconds, [&] {
    fired = true;
    timer.cancel();
  });
  co_await timer.async_wait(asio::as_tuple(asio::use_awaitable));
  if (!fired) throw_cancelled();
}

// --- SystemClock -------------------------------------------------------------------------------

namespace {

struct SystemAlarm final : Clock::Alarm {
  asio::steady_timer timer;
  std::shared_ptr<bool> alive = std::make_shared<bool>(true);
  explicit SystemAlarm(asio::any_io_executor executor) : timer(std::move(executor)) {}
  ~SystemAlarm() override { *alive = false; }
};

}  // namespace

double SystemClock::time() const {
  using namespace std::chrono;
  return duration<double>(system_clock::now().time_since_epoch()).count();
}

std::unique_ptr<Clock::Alarm> SystemClock::schedule(asio::any_io_executor executor, double seconds,
                                                    std::function<void()> wake) {
  auto alarm = std::make_unique<SystemAlarm>(std::move(executor));
  const auto delay = std::chrono::duration<double>(std::max(seconds, 0.0));
  alarm->timer.expires_after(std::chrono::duration_cast<asio::steady_timer::duration>(delay));
  alarm->timer.async_wait(
      [alive = alarm->alive, wake = std::move(wake)](boost::system::error_code ec) {
        if (!ec && *alive) wake();
      });
  return alarm;
}

// --- VirtualClock ------------------------------------------------------------------------------

struct VirtualClock::Entry {
  std::function<void()> wake;
  bool active = true;
};

namespace {

using AlarmMap = std::multimap<double, std::shared_ptr<VirtualClock::Entry>>;

struct VirtualAlarm final : Clock::Alarm {
  std::weak_ptr<AlarmMap> alarms;
  std::shared_ptr<VirtualClock::Entry> entry;
  double deadline = 0;
  ~VirtualAlarm() override {
    entry->active = false;
    if (auto map = alarms.lock()) {
      auto [first, last] = map->equal_range(deadline);
      for (auto it = first; it != last; ++it) {
        if (it->second == entry) {
          map->erase(it);
          break;
        }
      }
    }
  }
};

}  // namespace

VirtualClock::VirtualClock(double start_time)
    : _now(start_time), _alarms(std::make_shared<AlarmMap>()) {}

double VirtualClock::time() const {
  return _now;
}

std::unique_ptr<Clock::Alarm> VirtualClock::schedule(asio::any_io_executor, double seconds,
                                                     std::function<void()> wake) {
  auto alarm = std::make_unique<VirtualAlarm>();
  alarm->alarms = _alarms;
  alarm->entry = std::make_shared<Entry>(Entry{std::move(wake)});
  alarm->deadline = _now + std::max(seconds, 0.0);
  _alarms->emplace(alarm->deadline, alarm->entry);
  return alarm;
}

void VirtualClock::poll(asio::io_context& io) {
  for (;;) {
    if (io.stopped()) io.restart();
    io.poll();
    auto it = _alarms->begin();
    if (it == _alarms->end() || it->first > _now) return;
    auto entry = it->second;
    _alarms->erase(it);
    if (entry->active) {
      entry->active = false;
      entry->wake();
    }
  }
}

void VirtualClock::run_for(asio::io_context& io, double seconds) {
  const double end = _now + std::max(seconds, 0.0);
  for (;;) {
    poll(io);
    auto it = _alarms->begin();
    if (it == _alarms->end() || it->first > end) break;
    _now = std::max(_now, it->first);  // every task waits: jump to the next alarm
  }
  _now = end;
  poll(io);
}

void VirtualClock::advance(double seconds) {
  _now += std::max(seconds, 0.0);
}

std::size_t VirtualClock::pending_alarms() const {
  return _alarms->size();
}

// --- the process-wide clock --------------------------------------------------------------------

namespace {
std::shared_ptr<Clock>& current_clock() {
  static std::shared_ptr<Clock> clock = std::make_shared<SystemClock>();
  return clock;
}
}  // namespace

Clock& clock() {
  return *current_clock();
}

void set_clock(std::shared_ptr<Clock> clock) {
  current_clock() = clock ? std::move(clock) : std::make_shared<SystemClock>();
}

}  // namespace orvane::host
