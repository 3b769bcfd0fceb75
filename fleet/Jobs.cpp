#include "fleet/Jobs.h"

#include <asio/post.hpp>
#include <asio/thread_pool.hpp>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <system_error>
#include <thread>
#include <vector>

#include "system/FileLimit.h"

JobsFit FitJobs(size_t wanted, size_t needed) {
    JobsFit fit;
    const size_t most = std::max<size_t>(1, OpenFileRoom(kSpareDescriptors, fit.limit));
    fit.limited = std::min(wanted, needed) > most;
    fit.jobs = std::max<size_t>(1, std::min(wanted, most));
    return fit;
}

struct JobPool::Impl {
    asio::thread_pool pool{0};  // no threads of its own: those below attach to it
    std::vector<std::thread> threads;
    std::string problem;
    bool ran = false;
};

JobPool::JobPool(size_t jobs) : m_impl(std::make_unique<Impl>()) {
    Impl& impl = *m_impl;
    try {
        while (impl.threads.size() + 1 < jobs) {
            impl.threads.emplace_back([&impl] { impl.pool.attach(); });
        }
    } catch (const std::system_error& e) {
        impl.problem = "only " + std::to_string(impl.threads.size() + 1) + " of " + std::to_string(jobs) +
                       " jobs could be started: " + e.what();
    }
}

JobPool::~JobPool() {
    if (!m_impl->ran) {
        m_impl->pool.stop();
    }
    for (std::thread& thread : m_impl->threads) {
        thread.join();
    }
}

void JobPool::Post(std::function<void()> job) {
    asio::post(m_impl->pool, std::move(job));
}

void JobPool::Run() {
    Impl& impl = *m_impl;
    if (impl.ran) {
        return;
    }
    impl.ran = true;
    // Nothing more is posted: the pool ends when its last job does, and this thread serves too.
    impl.pool.wait();
    impl.pool.attach();
    for (std::thread& thread : impl.threads) {
        thread.join();
    }
    impl.threads.clear();
}

const std::string& JobPool::Problem() const {
    return m_impl->problem;
}

std::string ServeLanes(
    size_t count,
    size_t jobs,
    const std::function<void(size_t lane, const std::function<size_t()>& takeNext)>& serve) {
    jobs = std::max<size_t>(1, std::min(jobs, count));
    JobPool pool(jobs);
    std::atomic<size_t> next{0};
    for (size_t job = 0; job < jobs; ++job) {
        pool.Post([&next, count, &serve] {
            size_t taken = SIZE_MAX;  // the lane taken early, if any
            const std::function<size_t()> takeNext = [&] {
                if (taken == SIZE_MAX) {
                    taken = next++;
                }
                return taken < count ? taken : SIZE_MAX;
            };
            for (size_t lane = next++; lane < count;) {
                taken = SIZE_MAX;
                serve(lane, takeNext);
                lane = taken != SIZE_MAX ? taken : next++;
            }
        });
    }
    pool.Run();
    return pool.Problem();
}
