#include "schedule_run.hpp"

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <csignal>
#include <ctime>
#include <iostream>
#include <memory>

#include "cli.hpp"
#include "execution_history.hpp"
#include "model.hpp"
#include "orvane/common/local_time.hpp"
#include "orvane/host/clock.hpp"
#include "orvane/host/loop.hpp"
#include "orvane/scheduler/scheduler.hpp"
#include "run_async.hpp"
#include "scheduler_lock.hpp"
#include "scheduler_state.hpp"
#include "terminal_text.hpp"

namespace orvane::app {
namespace {

namespace asio = boost::asio;
namespace sched = orvane::scheduler;

std::string now_text() {
  return common::format_local(host::clock().local_now(), "%Y-%m-%d %H:%M:%S");
}

void print_event(const Json& event, bool json) {
  if (json) {
    std::cout << event.dump(-1, ' ', false, Json::error_handler_t::replace) << std::endl;
    return;
  }
  const std::string type = event["type"];
  if (type == "scheduler_job_fired") {
    const Json& job = event["job"];
    std::cout << now_text() << " fired " << terminal_safe(job["name"].get<std::string>()) << " ("
              << terminal_safe(job["id"].get<std::string>()) << ")" << std::endl;
  } else if (type == "scheduler_job_completed") {
    const Json& run = event["execution"];
    const bool ok = run["success"];
    std::cout << now_text() << " completed " << terminal_safe(run["job_name"].get<std::string>())
              << " (" << terminal_safe(run["job_id"].get<std::string>())
              << "): " << (ok ? "ok" : "failed") << " in " << run["duration"] << "s: "
              << terminal_safe(ok ? run["result"].get<std::string>()
                                  : run["error"].get<std::string>())
              << std::endl;
  } else {
    std::cout << now_text() << " " << event.dump() << std::endl;
  }
}

bool firings_under_way() {
  for (const auto& name : host::live_task_names()) {
    if (name.starts_with("job-")) return true;
  }
  return false;
}

}  // namespace

void run_scheduler(const std::filesystem::path& data_dir, bool json) {
  // A moment's patience: `schedule stats` probes the lock for as long as a system call takes.
  SchedulerLock lock(data_dir, std::chrono::milliseconds(250));
  lock.announce_runner();
  const ExecutionHistory history(data_dir);
  std::unique_ptr<host::LlmClient> model = model_configured() ? make_model_client() : nullptr;

  auto on_fire = [&](sched::ScheduledJob& job) -> asio::awaitable<std::string> {
    if (model) co_return co_await ask_model(*model, job.prompt);
    if (!json) std::cout << "  prompt: " << terminal_safe(job.prompt) << std::endl;
    co_return std::string();
  };
  auto on_event = [json, &history](Json event) -> asio::awaitable<void> {
    if (event["type"] == "scheduler_job_completed") {
      try {
        history.append(event["execution"]);
      } catch (const Failure& failure) {
        // The run itself is done and saved; only its lasting record is missing.
        std::cerr << "orvane: warning: " << terminal_safe(failure.what()) << std::endl;
      }
    }
    print_event(event, json);
    co_return;
  };
  const auto loaded = open_scheduler_to_save(lock, data_dir, on_fire, on_event);
  sched::Scheduler& scheduler = *loaded;

  asio::io_context io;
  // Made before the loop starts, so that a signal from then on stops the loop cleanly.
  asio::signal_set signals(io, SIGINT, SIGTERM);
  bool forced = false;
  run_async(io, [&]() -> asio::awaitable<void> {
    if (!json) {
      std::cout << "Scheduler running with " << scheduler.list_jobs().size() << " jobs on "
                << scheduler.storage_path().string()
                << (model ? "" : " (no model configured: prompts are printed)")
                << ". Ctrl-C stops it." << std::endl;
    }
    co_await scheduler.start();
    co_await signals.async_wait(asio::use_awaitable);
    co_await scheduler.stop();
    // Firings under way finish and save; a second signal quits without waiting for them.
    asio::co_spawn(
        io,
        [&]() -> asio::awaitable<void> {
          co_await signals.async_wait(asio::use_awaitable);
          forced = true;
          io.stop();
        },
        [](std::exception_ptr) {});
    if (firings_under_way() && !json) {
      std::cout << "Waiting for the firings under way (Ctrl-C again to quit now)" << std::endl;
    }
    asio::steady_timer timer(io);
    while (firings_under_way()) {
      timer.expires_after(std::chrono::milliseconds(50));
      co_await timer.async_wait(asio::use_awaitable);
    }
    signals.cancel();
  });
  if (forced) throw Failure("stopped before the firings under way had finished");
  if (!json)
    std::cout << "Scheduler stopped; state in " << scheduler.storage_path().string() << std::endl;
}

}  // namespace orvane::app
