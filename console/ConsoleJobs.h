// The console's apply jobs: each roll-out runs on a thread of its own with the apply engine, and
// what each printer became is kept for the job's report and its event stream.
#pragma once

#include <cstddef>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include <nlohmann/json.hpp>

#include "Apply.h"
#include "ApplyReport.h"
#include "HttpServer.h"
#include "Plan.h"

/// Jobs kept for their reports (the running ones beside).
constexpr size_t kKeptJobs = 20;

class ApplyJobs {
  public:
    ApplyJobs() = default;
    /// Stops the jobs and waits for them.
    ~ApplyJobs();
    ApplyJobs(const ApplyJobs&) = delete;
    ApplyJobs& operator=(const ApplyJobs&) = delete;

    /// Starts serving `plan` (without errors) on a thread of its own; answers its id. Empty, with
    /// `busy` saying which, when a printer of it is being served by a job that runs.
    std::string Start(std::unique_ptr<RolloutPlan> plan,
                      const ApplySettings& settings,
                      const ReportHead& head,
                      std::string& busy);

    /// The report of job `id` so far: the --report JSON with the entries of the printers done
    /// (in the plan's order), "done" and "progress". False when there is no such job.
    bool Report(const std::string& id, nlohmann::ordered_json& report) const;

    /// The job's events as Server-Sent Events, from the first: `event: printer` with each
    /// printer's entry as it is done, then `event: done` with the counts. Null when there is
    /// no such job.
    std::function<bool(const HttpWrite& write)> Events(const std::string& id) const;

    /// The job that is setting up the printer of `identity` (TargetIdentity), or "" when none is.
    std::string Serving(const std::string& identity) const;

    /// Asks every job to stop, and ends the event streams.
    void StopAll();

  private:
    class Job;
    std::shared_ptr<Job> Find(const std::string& id) const;

    mutable std::mutex m_mutex;
    std::list<std::shared_ptr<Job>> m_jobs;  // the oldest first
    size_t m_made = 0;
    bool m_stopping = false;
};
