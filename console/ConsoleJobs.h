// The console's apply jobs: each roll-out runs on a thread of its own with the apply engine; what
// each printer became is kept for the job's report and its event stream in a scratch file, so
// that memory holds only its place, and the report is written to the state folder when the job
// ends (also when it is stopped).
#pragma once

#include <cstddef>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "fleet/Apply.h"
#include "fleet/ApplyReport.h"
#include "fleet/Plan.h"
#include "http/HttpServer.h"

/// Jobs kept for their reports (the running ones beside).
constexpr size_t kKeptJobs = 20;

class ApplyJobs {
  public:
    /// Writes each job's report to `folder` as ID.json (made when the first job starts); the
    /// ids go on from the highest found there, so that no earlier run's report is replaced.
    /// With `record` each job is a roll-out of kind "console" there, its options naming the job.
    explicit ApplyJobs(std::string folder, Record* record = nullptr);
    /// Stops the jobs and waits for them (each writes its report).
    ~ApplyJobs();
    ApplyJobs(const ApplyJobs&) = delete;
    ApplyJobs& operator=(const ApplyJobs&) = delete;

    /// The ids go on from `id` at least (the highest job the record knows).
    void NotBelow(size_t id);

    /// Starts serving `plan` (without errors) on a thread of its own; answers its id. Empty, with
    /// `problem` and the answer's `status`, when it cannot: 409 when a printer of it is being
    /// served by a job that runs, or the console stops; 500 when its report cannot be kept or
    /// its roll-out cannot be written to the record (nothing is sent then).
    std::string Start(std::unique_ptr<RolloutPlan> plan,
                      const ApplySettings& settings,
                      const ReportHead& head,
                      int& status,
                      std::string& problem);

    /// The report of job `id` so far, as a streamed reply's body: the --report JSON with the
    /// entries of the printers done (in the plan's order), "done" and "progress". Null when
    /// there is no such job.
    std::function<bool(const HttpWrite& write)> Report(const std::string& id) const;

    /// The job's events as Server-Sent Events, from the first: `event: printer` with each
    /// printer's entry as it is done, then `event: done` with the counts. Null when there is
    /// no such job.
    std::function<bool(const HttpWrite& write)> Events(const std::string& id) const;

    /// The jobs kept (the oldest first): each id, and whether it is done.
    std::vector<std::pair<std::string, bool>> List() const;

    /// The job that is setting up the printer of `identity` (TargetIdentity), or "" when none is.
    std::string Serving(const std::string& identity) const;

    /// Asks every job to stop, and ends the event streams.
    void StopAll();

  private:
    class Job;
    std::shared_ptr<Job> Find(const std::string& id) const;

    const std::string m_folder;
    Record* const m_record;
    mutable std::mutex m_mutex;
    std::list<std::shared_ptr<Job>> m_jobs;  // the oldest first
    size_t m_made = 0;                       // the last id given
    bool m_stopping = false;
};
