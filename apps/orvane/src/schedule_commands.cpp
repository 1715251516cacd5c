// `orvane schedule ...`: the scheduler's registry operations on the state file in the data
// directory.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <iostream>
#include <limits>
#include <optional>
#include <set>
#include <string>
#include <utility>

#include "cli.hpp"
#include "execution_history.hpp"
#include "job_reference.hpp"
#include "json_input.hpp"
#include "local_minute.hpp"
#include "orvane/scheduler/scheduler.hpp"
#include "schedule_run.hpp"
#include "scheduler_lock.hpp"
#include "scheduler_state.hpp"
#include "terminal_text.hpp"
#include "text_table.hpp"
#include "whole_number.hpp"

namespace orvane::app {
namespace {

namespace sched = orvane::scheduler;

// Another short command holding the lock is waited for this long.
constexpr std::chrono::milliseconds LOCK_PATIENCE{2000};

// Longer intervals gain nothing, and a next run far beyond them cannot be shown as a date.
constexpr std::int64_t MAX_INTERVAL_SECONDS = 3'155'760'000;  // 100 years
constexpr std::int64_t NO_LIMIT = std::numeric_limits<std::int64_t>::max();

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
  // Read from files, so every member may be missing or of another kind.
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

// The history file's executions and the state file's that it lacks (the same job and start), by
// start time.
Json all_executions(const std::filesystem::path& data_dir) {
  Json runs = ExecutionHistory(data_dir).read();
  std::set<std::pair<std::string, std::string>> known;
  for (const Json& run : runs) known.insert(execution_key(run));
  Json merged = Json::array();
  for (Json& run : saved_executions(data_dir)) {
    if (!known.contains(execution_key(run))) merged.push_back(std::move(run));
  }
  for (Json& run : runs) merged.push_back(std::move(run));
  const auto started = [](const Json& run) {
    const auto it = run.find("started_at");
    return it != run.end() && it->is_number() ? it->get<double>() : 0.0;
  };
  std::stable_sort(merged.begin(), merged.end(),
                   [&](const Json& a, const Json& b) { return started(a) < started(b); });
  return merged;
}

std::vector<JobName> job_names(const Json& listed) {
  std::vector<JobName> names;
  for (const Json& job : listed) names.push_back({job["id"], job["name"]});
  return names;
}

// Checks the expression as the scheduler will read it, including that it ever falls due.
void check_cron(const std::string& expression) {
  try {
    sched::CronExpression(expression).next_occurrence();
  } catch (const sched::InvalidValueError& error) {
    throw UsageError("invalid cron expression '" + expression + "': " + error.what());
  }
}

struct AddOptions {
  std::optional<std::string> cron;
  std::optional<std::string> every;
  std::optional<std::string> at;
  std::string name;
  std::string prompt;
  std::string description;
  std::string max_runs = "0";
};

sched::ScheduledJob job_from(const AddOptions& options) {
  sched::ScheduledJob job{.name = options.name,
                          .description = options.description,
                          .prompt = options.prompt,
                          .max_runs = whole_number("--max-runs", options.max_runs, 0, NO_LIMIT)};
  if (options.cron) {
    check_cron(*options.cron);
    job.job_type = sched::JobType::CRON;
    job.schedule = *options.cron;
  } else if (options.every) {
    job.job_type = sched::JobType::INTERVAL;
    job.interval_seconds =
        whole_number("--every", *options.every, 1, MAX_INTERVAL_SECONDS, "seconds");
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
  auto* every = add->add_option("--every", options->every, "Interval in seconds (up to 100 years)");
  auto* at = add->add_option("--at", options->at, "One-shot time, local: \"YYYY-MM-DD HH:MM\"");
  cron->excludes(every)->excludes(at);
  every->excludes(at);
  add->add_option("--name", options->name, "Job name")->required();
  add->add_option("--prompt", options->prompt, "Prompt the job hands to the agent")->required();
  add->add_option("--description", options->description, "Description");
  add->add_option("--max-runs", options->max_runs, "Runs before the job completes (0: no limit)");
  cli.on(add, [&cli, options] {
    sched::ScheduledJob job = job_from(*options);
    const auto dir = cli.data_dir();
    SchedulerLock lock(dir, LOCK_PATIENCE);
    const Json added = open_scheduler_to_save(lock, dir)->add_job(std::move(job))->to_dict();
    if (cli.json) return print_json(added);
    std::cout << "Added job " << added["id"].get<std::string>() << " \""
              << terminal_safe(added["name"].get<std::string>()) << "\" ("
              << terminal_safe(schedule_text(added))
              << "), next run: " << added["next_run_human"].get<std::string>() << '\n';
  });
}

// pause, resume and remove: one job, named as job_reference.hpp reads it.
void add_job_change(Cli& cli, CLI::App& schedule, const std::string& name, const std::string& help,
                    bool (sched::Scheduler::*change)(const std::string&), const char* done) {
  auto reference = std::make_shared<std::string>();
  auto* sub = schedule.add_subcommand(name, help);
  sub->add_option("JOB", *reference,
                  "Job id, a unique prefix of it (4 characters or more), or the job's name")
      ->required();
  cli.on(sub, [&cli, reference, change, done, removing = name == "remove"] {
    const auto dir = cli.data_dir();
    SchedulerLock lock(dir, LOCK_PATIENCE);
    const auto scheduler = open_scheduler_to_save(lock, dir);
    const std::string id = resolve_job(job_names(scheduler->list_jobs()), *reference);
    if (!((*scheduler).*change)(id)) throw Failure("no job with id '" + id + "'");
    if (cli.json) {
      if (removing) return print_json(Json{{"removed", id}});
      return print_json(scheduler->get_job(id)->to_dict());
    }
    std::cout << done << " job " << terminal_safe(id) << '\n';
  });
}

void add_queries(Cli& cli, CLI::App& schedule) {
  auto* list = schedule.add_subcommand("list", "List the jobs, soonest first");
  cli.on(list, [&cli] {
    const Json jobs = open_scheduler(cli.data_dir())->list_jobs();
    cli.json ? print_json(jobs) : print_jobs(jobs);
  });

  struct HistoryOptions {
    std::string job;
    std::string limit = "50";
  };
  auto history_options = std::make_shared<HistoryOptions>();
  auto* history = schedule.add_subcommand(
      "history", "Show the executions that 'orvane schedule run' recorded, oldest first");
  history->add_option("--job", history_options->job,
                      "Only this job's executions (its id, an id prefix or its name)");
  history->add_option("--limit", history_options->limit, "The last N executions (0: all)");
  cli.on(history, [&cli, history_options] {
    const auto limit =
        static_cast<std::size_t>(whole_number("--limit", history_options->limit, 0, NO_LIMIT));
    const auto dir = cli.data_dir();
    Json recorded = all_executions(dir);
    std::string id;
    if (!history_options->job.empty()) {
      // Jobs removed since they ran are named by their executions.
      std::vector<JobName> jobs;
      std::error_code error;
      if (std::filesystem::exists(state_file(dir), error)) {
        jobs = job_names(open_scheduler(dir)->list_jobs());
      }
      for (const Json& run : recorded) {
        if (run.value("job_id", Json()).is_string() && run.value("job_name", Json()).is_string()) {
          jobs.push_back({run["job_id"], run["job_name"]});
        }
      }
      id = resolve_job(jobs, history_options->job);
    }
    Json runs = Json::array();
    for (Json& run : recorded) {
      if (id.empty() || run.value("job_id", Json()) == id) runs.push_back(std::move(run));
    }
    if (limit > 0 && runs.size() > limit) runs.erase(runs.begin(), runs.end() - limit);
    cli.json ? print_json(runs) : print_executions(runs);
  });

  auto* stats = schedule.add_subcommand("stats", "Show job and execution counts");
  cli.on(stats, [&cli] {
    const auto dir = cli.data_dir();
    Json counts = open_scheduler(dir)->stats();
    // "running" is this process's scheduler; the one that may run elsewhere is named beside it.
    const auto runner = find_scheduler_runner(dir);
    Json process = nullptr;
    if (runner) {
      process = {{"pid", runner->pid},
                 {"started_at", runner->started_at},
                 {"started_at_human", sched::_format_timestamp(runner->started_at)}};
    }
    if (cli.json) {
      counts["scheduler_process"] = process;
      return print_json(counts);
    }
    for (const auto& [key, value] : counts.items()) {
      std::cout << key << ": ";
      if (key == "running" && runner) {
        std::cout << "true (process " << runner->pid << ", started "
                  << process["started_at_human"].get<std::string>() << ")\n";
      } else {
        std::cout << value << '\n';
      }
    }
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
