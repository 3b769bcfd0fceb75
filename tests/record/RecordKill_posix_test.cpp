// A process that writes the record, killed (SIGKILL) at a random moment: the record opens without
// repair, and its `sent` rows are what the writer had told its printer it sent, except the
// commands then in flight.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <thread>

#include "record/Record.h"
#include "tests/support/TempDir.h"

namespace {

constexpr int kWriterJobs = 8;

// The writer, run in a child process by the test below (TOL_RECORD_WRITER names its record): on
// kWriterJobs threads, each command is written in flight, then "sent" by telling descriptor 3
// (the test, which plays the printers) its number, then given its result; until it is killed.
TEST(RecordKillTest, Writer) {
    const char* path = std::getenv("TOL_RECORD_WRITER");
    if (path == nullptr) {
        GTEST_SKIP() << "the child of KilledWriterLeavesWhatThePrintersTook";
    }
    RecordProblem problem;
    std::unique_ptr<Record> record = Record::Open(path, RecordMode::Write, problem);
    ASSERT_NE(record, nullptr) << problem.text;
    const RecordRollout rollout = record->BeginRollout(RolloutStart());
    const std::string first = "rollout " + rollout.uuid + "\n";
    ASSERT_EQ(::write(3, first.data(), first.size()), static_cast<ssize_t>(first.size()));
    std::vector<std::thread> jobs;
    for (int job = 0; job < kWriterJobs; ++job) {
        jobs.emplace_back([&, job] {
            const std::string printer = "socket://127.0.3." + std::to_string(job) + ":9100";
            for (int i = 0;; ++i) {
                // Half the jobs in two steps, as a job that opens its port meanwhile.
                RecordSend send;
                if (job % 2 == 0) {
                    send = record->CommandStarted(rollout, printer, "bt-pin", {std::to_string(i)});
                } else {
                    send = record->StartCommand(rollout, printer, "bt-pin", {std::to_string(i)});
                    std::this_thread::yield();
                    record->AwaitCommand(send);
                }
                if (send.seq == 0) {
                    std::abort();
                }
                const std::string line = std::to_string(send.seq) + "\n";
                if (::write(3, line.data(), line.size()) != static_cast<ssize_t>(line.size())) {
                    std::abort();
                }
                record->CommandEnded(send, SendResult::Sent);
            }
        });
    }
    for (std::thread& job : jobs) {
        job.join();
    }
}

// What the writer told before it was killed `afterMs` after its roll-out began.
std::string RunAndKill(const std::string& path, int afterMs, std::set<int64_t>& took) {
    int fds[2];
    EXPECT_EQ(::pipe2(fds, O_CLOEXEC), 0);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setenv("TOL_RECORD_WRITER", path.c_str(), 1);
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::dup2(fds[1], 3);
        char self[4096] = {};
        if (::readlink("/proc/self/exe", self, sizeof self - 1) > 0) {
            ::execl(self, self, "--gtest_filter=RecordKillTest.Writer", static_cast<char*>(nullptr));
        }
        ::_exit(127);
    }
    ::close(fds[1]);
    std::string text;
    const auto readSome = [&](int timeoutMs) {
        pollfd pfd{fds[0], POLLIN, 0};
        char buffer[65536];
        const ssize_t got = ::poll(&pfd, 1, timeoutMs) > 0 ? ::read(fds[0], buffer, sizeof buffer) : -1;
        if (got > 0) {
            text.append(buffer, static_cast<size_t>(got));
        }
        return got > 0;
    };
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    // The child may take a while to start on a busy machine: its first line is awaited whole.
    while (text.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
        readSome(100);
    }
    const auto killAt = std::chrono::steady_clock::now() + std::chrono::milliseconds(afterMs);
    while (std::chrono::steady_clock::now() < killAt) {
        readSome(1);
    }
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
    while (readSome(0)) {
    }
    ::close(fds[0]);
    std::istringstream lines(text);
    std::string word, uuid;
    lines >> word >> uuid;
    EXPECT_EQ(word, "rollout") << text.substr(0, 200);
    int64_t seq = 0;
    while (lines >> seq) {
        took.insert(seq);
    }
    return uuid;
}

TEST(RecordKillTest, KilledWriterLeavesWhatThePrintersTook) {
    const TempDir folder;
    const std::string path = (folder / "record.sqlite");
    std::mt19937 random(std::random_device{}());
    for (int round = 0; round < 4; ++round) {
        std::set<int64_t> took;
        const int afterMs = std::uniform_int_distribution<int>(0, 300)(random);
        const std::string uuid = RunAndKill(path, afterMs, took);
        RecordProblem problem;
        std::unique_ptr<Record> record = Record::Open(path, RecordMode::Read, problem);
        ASSERT_NE(record, nullptr) << problem.text;
        SqliteStatement check;
        ASSERT_TRUE(check.Prepare(record->Db(), "PRAGMA integrity_check") && check.Step() && check.Row());
        EXPECT_EQ(check.Text(0), "ok");
        SqliteStatement rows;
        ASSERT_TRUE(rows.Prepare(
            record->Db(),
            "SELECT seq, result FROM sends WHERE rollout = (SELECT id FROM rollouts WHERE uuid = ?)"));
        rows.Bind(1, uuid);
        std::map<int64_t, int64_t> results;
        ASSERT_TRUE(rows.EachRow([&] { results[rows.Int(0)] = rows.Int(1); }));
        size_t inFlight = 0;
        for (const auto& row : results) {
            if (row.second == static_cast<int64_t>(SendResult::Sent)) {
                EXPECT_EQ(took.count(row.first), 1u)
                    << "round " << round << ": seq " << row.first << " sent unsaid";
            } else {
                EXPECT_EQ(row.second, static_cast<int64_t>(SendResult::InFlight)) << row.first;
                ++inFlight;
            }
        }
        for (const int64_t seq : took) {
            EXPECT_EQ(results.count(seq), 1u)
                << "round " << round << ": seq " << seq << " taken, not recorded";
        }
        EXPECT_LE(inFlight, static_cast<size_t>(kWriterJobs)) << "round " << round;
        std::cout << "round " << round << ": killed after " << afterMs << " ms, " << took.size()
                  << " commands taken, " << inFlight << " in flight\n";
    }
}

}  // namespace
