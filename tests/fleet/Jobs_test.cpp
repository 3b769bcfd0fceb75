// The job pool that apply and the fleet's status reads share: every lane served once, never by
// more jobs at a time than asked for.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "fleet/Jobs.h"

namespace {

TEST(JobsTest, EveryLaneIsServedOnceAndNoMoreJobsRunThanAskedFor) {
    for (const size_t jobs : {1, 3, 16}) {
        std::vector<std::atomic<int>> served(40);
        std::atomic<size_t> running{0}, most{0};
        std::atomic<int> wrongNext{0};
        const std::string problem =
            ServeLanes(served.size(), jobs, [&](size_t lane, const std::function<size_t()>& takeNext) {
                // A lane taken early is the one the job serves next (apply writes that printer's
                // first rows meanwhile). Odd lanes take it.
                thread_local size_t round = 0, told = SIZE_MAX;  // (this thread serves every round)
                wrongNext += round == jobs && told != SIZE_MAX && told != lane ? 1 : 0;
                round = jobs;
                told = lane % 2 == 1 ? takeNext() : SIZE_MAX;
                const size_t now = ++running;
                for (size_t seen = most; now > seen && !most.compare_exchange_weak(seen, now);) {
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                ++served[lane];
                --running;
            });
        EXPECT_EQ(problem, "");
        EXPECT_EQ(wrongNext, 0) << jobs << " jobs";
        for (size_t lane = 0; lane < served.size(); ++lane) {
            EXPECT_EQ(served[lane], 1) << "lane " << lane << " of " << jobs << " jobs";
        }
        EXPECT_LE(most, jobs);
    }
    EXPECT_EQ(ServeLanes(0, 8, [](size_t, const std::function<size_t()>&) { FAIL() << "no lane to serve"; }),
              "");
}

}  // namespace
