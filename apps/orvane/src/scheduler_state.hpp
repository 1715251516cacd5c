#pragma once
// The scheduler on the state file of a data directory, as every schedule command opens it.
#include <filesystem>
#include <memory>

#include "orvane/scheduler/scheduler.hpp"
#include "output.hpp"
#include "scheduler_lock.hpp"

namespace orvane::app {

std::filesystem::path state_file(const std::filesystem::path& data_dir);

// Loads the state file of `data_dir`. The scheduler sets a file it cannot read aside and starts
// with no jobs; that is said on stderr, with the name the file now has, since even a command that
// only reads has then moved it.
std::unique_ptr<scheduler::Scheduler> open_scheduler(
    const std::filesystem::path& data_dir, scheduler::JobFireCallback on_fire = nullptr,
    scheduler::JobEventCallback on_event = nullptr);

// open_scheduler for a command that will save the state (holding `lock`): the executions the
// state file holds, which the save drops, go to the history file first where it lacks them.
std::unique_ptr<scheduler::Scheduler> open_scheduler_to_save(
    const SchedulerLock& lock, const std::filesystem::path& data_dir,
    scheduler::JobFireCallback on_fire = nullptr, scheduler::JobEventCallback on_event = nullptr);

// The executions the state file of `data_dir` holds: those the last save kept. None when it
// cannot be read; the scheduler reports that when it loads the file.
Json saved_executions(const std::filesystem::path& data_dir);

}  // namespace orvane::app
