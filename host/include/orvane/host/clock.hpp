#pragma once
// The host clock: wall time, local time, and timed waits on the event loop. Tests swap in a
// VirtualClock so that an hour of loop time passes in milliseconds.
#include "orvane/host/asio_threads.hpp"  // first: see there

#include <boost/asio/any_io_executor.hpp>
#include <boost/asio/awaitable.hpp>
#include <boost/asio/io_context.hpp>
#include <chrono>
#include <functional>
#include <map>
#include <memory>

namespace orvane::host {

using LocalTime = std::chrono::local_time<std::chrono::microseconds>;

class Clock {
 public:
  virtual ~Clock() = default;
  // Seconds since the Unix epoch.
  virtual double time() const = 0;
  // The same instant as a naive local date-time (the system's time zone).
  LocalTime local_now() const;

  // Suspends the calling coroutine for `seconds` of this clock. Cancellation of the awaiting task
  // ends it with boost::system::system_error(operation_aborted).
  boost::asio::awaitable<void> sleep(double seconds);

  // Low-level hook used by sleep() and Event::wait(): `wake` is called once `seconds` of this
  // clock have passed, unless the returned token is destroyed first.
  class Alarm {
   public:
    virtual ~Alarm() = default;
  };
  virtual std::unique_ptr<Alarm> schedule(boost::asio::any_io_executor executor, double seconds,
                                          std::function<void()> wake) = 0;
};

// The real wall clock, with Asio steady timers for the waits.
class SystemClock final : public Clock {
 public:
  double time() const override;
  std::unique_ptr<Alarm> schedule(boost::asio::any_io_executor executor, double seconds,
                                  std::function<void()> wake) override;
};

// A clock that only moves when told. run_for() drives an io_context: whenever every task is
// waiting, time jumps to the next alarm (never past the end), so waits cost no real time.
class VirtualClock final : public Clock {
 public:
  explicit VirtualClock(double start_time);
  double time() const override;
  std::unique_ptr<Alarm> schedule(boost::asio::any_io_executor executor, double seconds,
                                  std::function<void()> wake) override;

  // Runs ready handlers and alarms until `seconds` of virtual time have passed; returns when the
  // loop is idle at the end time.
  void run_for(boost::asio::io_context& io, double seconds);
  // Runs ready handlers without moving time.
  void poll(boost::asio::io_context& io);
  // Moves time by `seconds` without running anything (alarms that fall due wake at the next poll).
  void advance(double seconds);
  std::size_t pending_alarms() const;

  struct Entry;

 private:
  double _now;
  std::shared_ptr<std::multimap<double, std::shared_ptr<Entry>>> _alarms;
};

// The process-wide clock the libraries read; SystemClock unless a test sets another.
Clock& clock();
void set_clock(std::shared_ptr<Clock> clock);  // nullptr restores the system clock

}  // namespace orvane::host
