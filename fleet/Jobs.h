// The jobs that serve many printers at once (apply, status): how many fit in this process's limit
// of open files, and the threads that run those that wait on a port (Asio's thread pool).
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

/// Files a run of many jobs keeps free besides its jobs' sockets and devices and what it had open
/// at the start (a report, its scratch file, a state file).
constexpr size_t kSpareDescriptors = 16;

/// How many printers may be served at once.
struct JobsFit {
    size_t jobs = 0;       // what was wanted, or as many as fit when fewer do (at least 1)
    size_t limit = 0;      // the limit of open files, 0 where the system sets none
    bool limited = false;  // fewer fit than were wanted and there is work for
};

/// Each job holds one socket or device, and the process must stay within its limit of open
/// files, which this raises first as far as the system allows (OpenFileRoom). `needed`: how
/// many jobs there is work for.
JobsFit FitJobs(size_t wanted, size_t needed);

/// Threads for jobs that wait on a port (a command sent, a device read): an asio::thread_pool
/// whose threads are started one by one, so that when the system gives fewer than wanted the
/// ones it gave still serve and Problem says so, and the thread that calls Run is one of them.
class JobPool {
  public:
    /// Starts `jobs` - 1 threads (the caller of Run is the last job).
    explicit JobPool(size_t jobs);
    /// Stops the jobs not begun and waits for the threads.
    ~JobPool();
    JobPool(const JobPool&) = delete;
    JobPool& operator=(const JobPool&) = delete;

    /// Has `job` run on one of the threads, in the order posted.
    void Post(std::function<void()> job);
    /// Runs posted jobs on this thread too, until every one is done; then the threads end. After
    /// the last Post; once.
    void Run();
    /// "" or, when fewer threads could be started than wanted, "only N of M jobs could be
    /// started: REASON".
    const std::string& Problem() const;

  private:
    struct Impl;  // Asio's pool and the threads
    std::unique_ptr<Impl> m_impl;
};

/// Serves lanes 0 to `count` - 1 (`serve(lane, takeNext)`) with `jobs` jobs of a JobPool, this
/// thread one of them; a job takes the next lane when done with one. A job may take the lane it
/// serves next earlier, with `takeNext()` (SIZE_MAX: none is left), to make it ready while it
/// ends this one. Answers the pool's Problem.
std::string ServeLanes(
    size_t count,
    size_t jobs,
    const std::function<void(size_t lane, const std::function<size_t()>& takeNext)>& serve);
