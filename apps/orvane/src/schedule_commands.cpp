// `orvane schedule ...`: the scheduler's registry operations on the state file in the data
// directory.
#include <chrono>
#include <cstdint>
#include <iostream>
#include <optional>
#include <string>

#include "cli.hpp"
#include "json_input.hpp"
#include "local_minute.hpp"
#include "orvane/scheduler/scheduler.hpp"
#include "schedule_run.hpp"
#include "scheduler_lock.hpp"
#include "text_table.hpp"

namespace orvane::app {
namespace {

namespace sched = orvane::scheduler;

// Another short command holding the lock is waited for this long.
constexpr std::chrono::milliseconds LOCK_PATIENCE{2000};

std::filesystem::path state_file(const std::filesystem::path& data_dir) {
  return data_dir / "scheduler.json";
}

std::string schedule_text(const Json& job) {
  const std::string type = job["job_type"];
  if (type == "cron") return "cron " + job["schedule"].get<std::string>();
  if (type == "interval")
    return "every " + std::to_string(job["interval_seconds"].get<std::int64_t>()) + "s";
  return "once";
}

void print_jobs(const Json& jobs) {
  if (jobs.empty()) {
    std::cout << "No scheduled jobs.\n";
    return;
  }
  TextTable table({"ID", "NAME", "SCHEDULE", "STATE", "NEXT RUN", "RUNS"});
  for (const Json& job : jobs) {
    std::string runs = std::to_string(job["run_count"].get<std::int64_t>());
    if (job["max_runs"].get<std::int64_t>() > 0) {
      runs += "/" + std::to_string(job["max_runs"].get<std::int64_t>());
    }
    table.add({job["id"], cell(job["name"], 30), cell(schedule_text(job), 30), job["state"],
               job["next_run_human"], runs});
  }
  table.print(std::cout);
}

void print_executions(const Json& executions) {
  if (executions.empty()) {
    std::cout << "No executions recorded.\n";
    return;
  }
  TextTable table({"STARTED", "JOB", "NAME", "OUTCOME", "SECONDS", "RESULT"});
  // Read from the state file, so every member may be missing or of another kind.
  const auto text = [](const Json& run, const char* key) {
    const auto it = run.find(key);
    if (it == run.end()) return std::string();
    return it->is_string() ? it->get<std::string>() : it->dump();
  };
  for (const Json& run : executions) {
    const auto success = run.find("success");
    const bool ok = success != run.end() && *success == true;
    table.add({text(run, "started_at_human"), text(run, "job_id"), cell(text(run, "job_name"), 30),
               ok ? "ok" : "failed", cell(text(run, "duration"), 10),
               cell(text(run, ok ? "result" : "error"))});
  }
  table.print(std::cout);
}

// The scheduler keeps its history in memory, so a new process starts with none; the state file
// holds the latest executions as the last save of a running scheduler wrote them.
Json saved_executions(const std::filesystem::path& path) {
  std::error_code error;
  if (!std::filesystem::exists(path, error)) return Json::array();
  Json state = parse_json_input(read_input_file(path), path.string());
  if (!state.is_object() || !state.contains("executions") || !state["executions"].is_array()) {
    throw Failure(path.string() + " holds no list of executions");
  }
  Json runs = Json::array();
  for (Json& run : state["executions"]) {
    if (run.is_object()) runs.push_back(std::move(run));
  }
  return runs;
}

// Checks the expression as the scheduler will read it, including that it ever falls due.
void check_cron(const std::string& expression) {
  try {
    sched::CronExpression(expression).next_occurrence();
  } catch (const sched::InvalidValueError& error) {
    throw Failure("invalid cron expression '" + expression + "': " + error.what());
  }
}

struct AddOptions {
  std::optional<std::string> cron;
  std::optional<std::int64_t> every;
  std::optional<std::string> at;
  std::string name;
  std::string prompt;
  std::string description;
  std::int64_t max_runs = 0;
};

sched::ScheduledJob job_from(const AddOptions& options) {
  sched::ScheduledJob job{.name = options.name,
                          .description = options.description,
                          .prompt = options.prompt,
                          .max_runs = options.max_runs};
  if (options.cron) {
    check_cron(*options.cron);
    job.job_type = sched::JobType::CRON;
    job.schedule = *options.cron;
  } else if (options.every) {
    job.job_type = sched::JobType::INTERVAL;
    job.interval_seconds = *options.every;
  } else if (options.at) {
    const auto when = parse_local_minute(*options.at);
    if (!when) {
      throw UsageError("--at takes a local time as \"YYYY-MM-DD HH:MM\", not '" + *options.at +
                       "'");
    }
    job.job_type = sched::JobType::ONCE;
    job.schedule = *options.at;
    job.next_run = *when;
  } else {
    throw UsageError("schedule add needs one of --cron, --every or --at");
  }
  return job;
}

void add_add(Cli& cli, CLI::App& schedule) {
  auto options = std::make_shared<AddOptions>();
  auto* add = schedule.add_subcommand("add", "Add a job");
  auto* cron = add->add_option("--cron", options->cron, "Five-field cron schedule, local time");
  auto* every =
      add->add_option("--every", options->every, "Interval in seconds")->check(CLI::PositiveNumber);
  auto* at = add->add_option("--at", options->at, "One-shot time, local: \"YYYY-MM-DD HH:MM\"");
  cron->excludes(every)->excludes(at);
  every->excludes(at);
  add->add_option("--name", options->name, "Job name")->required();
  add->add_option("--prompt", options->prompt, "Prompt the job hands to the agent")->required();
  add->add_option("--description", options->description, "Description");
  add->add_option("--max-runs", options->max_runs, "Runs before the job completes (0: no limit)")
      ->check(CLI::NonNegativeNumber);
  cli.on(add, [&cli, options] {
    sched::ScheduledJob job = job_from(*options);
    const auto dir = cli.data_dir();
    SchedulerLock lock(dir, LOCK_PATIENCE);
    sched::Scheduler scheduler(nullptr, nullptr, state_file(dir));
    const Json added = scheduler.add_job(std::move(job))->to_dict();
    if (cli.json) return print_json(added);
    std::cout << "Added job " << added["id"].get<std::string>() << " \""
              << added["name"].get<std::string>() << "\" (" << schedule_text(added)
              << "), next run: " << added["next_run_human"].get<std::string>() << '\n';
  });
}

// pause, resume and remove: one job id, an unknown one is a failure.
void add_job_change(Cli& cli, CLI::App& schedule, const std::string& name, const std::string& help,
                    bool (sched::Scheduler::*change)(const std::string&), const char* done) {
  auto id = std::make_shared<std::string>();
  auto* sub = schedule.add_subcommand(name, help);
  sub->add_option("ID", *id, "Job id (see 'orvane schedule list')")->required();
  cli.on(sub, [&cli, id, change, done, removing = name == "remove"] {
    const auto dir = cli.data_dir();
    SchedulerLock lock(dir, LOCK_PATIENCE);
    sched::Scheduler scheduler(nullptr, nullptr, state_file(dir));
    if (!(scheduler.*change)(*id)) throw Failure("no job with id '" + *id + "'");
    if (cli.json) {
      if (removing) return print_json(Json{{"removed", *id}});
      return print_json(scheduler.get_job(*id)->to_dict());
    }
    std::cout << done << " job " << *id << '\n';
  });
}

void add_queries(Cli& cli, CLI::App& schedule) {
  auto* list = schedule.add_subcommand("list", "List the jobs, soonest first");
  cli.on(list, [&cli] {
    sched::Scheduler scheduler(nullptr, nullptr, state_file(cli.data_dir()));
    const Json jobs = scheduler.list_jobs();
    cli.json ? print_json(jobs) : print_jobs(jobs);
  });

  struct HistoryOptions {
    std::string job;
    std::int64_t limit = 50;
  };
  auto history_options = std::make_shared<HistoryOptions>();
  auto* history = schedule.add_subcommand(
      "history", "Show the executions saved in the state file (the latest 100), oldest first");
  history->add_option("--job", history_options->job, "Only this job's executions");
  history->add_option("--limit", history_options->limit, "The last N executions (0: all)")
      ->check(CLI::NonNegativeNumber);
  cli.on(history, [&cli, history_options] {
    Json runs = Json::array();
    for (Json& run : saved_executions(state_file(cli.data_dir()))) {
      if (history_options->job.empty() || run.value("job_id", "") == history_options->job) {
        runs.push_back(std::move(run));
      }
    }
    const auto limit = static_cast<std::size_t>(history_options->limit);
    if (limit > 0 && runs.size() > limit) runs.erase(runs.begin(), runs.end() - limit);
    cli.json ? print_json(runs) : print_executions(runs);
  });

  auto* stats = schedule.add_subcommand("stats", "Show job and execution counts");
  cli.on(stats, [&cli] {
    sched::Scheduler scheduler(nullptr, nullptr, state_file(cli.data_dir()));
    const Json counts = scheduler.stats();
    if (cli.json) return print_json(counts);
    for (const auto& [key, value] : counts.items()) std::cout << key << ": " << value << '\n';
  });
}

}  // namespace

void add_schedule_commands(Cli& cli) {
  auto* schedule = cli.app.add_subcommand("schedule", "Timed jobs: cron, interval and one-shot");
  schedule->require_subcommand(1);
  add_add(cli, *schedule);
  add_queries(cli, *schedule);
  add_job_change(cli, *schedule, "pause", "Pause a job", &sched::Scheduler::pause_job, "Paused");
  add_job_change(cli, *schedule, "resume", "Resume a job", &sched::Scheduler::resume_job,
                 "Resumed");
  add_job_change(cli, *schedule, "remove", "Remove a job", &sched::Scheduler::remove_job,
                 "Removed");
  auto* run = schedule->add_subcommand(
      "run", "Run the scheduler in the foreground until SIGINT or SIGTERM, printing each event");
  cli.on(run, [&cli] { run_scheduler(cli.data_dir(), cli.json); });
}

}  // namespace orvane::app
