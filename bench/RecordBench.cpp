// The fleet record's writer under an apply's load, beside the same loop without it (run by
// bench/record.sh): JOBS threads share PRINTERS printers, each printer COMMANDS commands, and each
// command takes SEND_US microseconds (a sleep standing for the send). With the record, each
// command is first written in flight (waiting for its commit) and then given its result, as apply
// will do. Prints the time, processor time, rate and the record's size per command of each run.
// Usage: record_bench FILE PRINTERS COMMANDS JOBS SEND_US
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "record/Record.h"

namespace {

// The threads of this process.
std::set<std::string> Threads() {
    std::set<std::string> ids;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) {
        ids.insert(entry.path().filename().string());
    }
    return ids;
}

// Processor time a thread of this process has used, in seconds.
double ThreadSeconds(const std::string& id) {
    std::ifstream stat("/proc/self/task/" + id + "/stat");
    const std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    double ticks = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i >= 14) {  // utime and stime
            ticks += std::stod(field);
        }
    }
    return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// Bytes this process has written so far (to files, the record's log and its checkpoints included).
double WrittenBytes() {
    std::ifstream io("/proc/self/io");
    std::string key;
    double value = 0;
    while (io >> key >> value) {
        if (key == "wchar:") {
            return value;
        }
    }
    return 0;
}

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

const char* const kSettings[] = {"wifi-ap.name", "wifi-ap.mode", "bt-name", "bt-pin",
                                 "lan.ip",       "lan.mask",     "cut"};

struct Run {
    double seconds = 0, cpu = 0;
    double waitMs = 0;  // the mean wait for a command's in-flight row to be committed
};

Run Serve(Record* record, int printers, int commands, int jobs, int sendUs) {
    RecordRollout rollout;
    if (record != nullptr) {
        RolloutStart start;
        start.profile = "bench.json";
        rollout = record->BeginRollout(start);
    }
    std::atomic<int> next{0};
    std::atomic<int64_t> waitedUs{0};
    const double cpu = CpuSeconds();
    const auto begin = std::chrono::steady_clock::now();
    std::vector<std::thread> threads;
    for (int job = 0; job < jobs; ++job) {
        threads.emplace_back([&] {
            for (int printer = next++; printer < printers; printer = next++) {
                const std::string name = "socket://127." + std::to_string(64 + printer / 65536) + "." +
                                         std::to_string(printer / 256 % 256) + "." +
                                         std::to_string(printer % 256) + ":9100";
                for (int command = 0; command < commands; ++command) {
                    const std::string setting = kSettings[command % 7];
                    const std::string value = "value-" + std::to_string(command);
                    RecordSend send;
                    // The in-flight row is written while the port opens (the first half of the
                    // send's time), and waited for before the command's bytes go (the second).
                    if (record != nullptr) {
                        send = record->StartCommand(rollout, name, setting, {value, setting == "bt-pin"});
                    }
                    if (sendUs > 0) {
                        std::this_thread::sleep_for(std::chrono::microseconds(sendUs / 2));
                    }
                    if (record != nullptr) {
                        const auto asked = std::chrono::steady_clock::now();
                        record->AwaitCommand(send);
                        waitedUs += std::chrono::duration_cast<std::chrono::microseconds>(
                                        std::chrono::steady_clock::now() - asked)
                                        .count();
                    }
                    if (sendUs > 0) {
                        std::this_thread::sleep_for(std::chrono::microseconds(sendUs - sendUs / 2));
                    }
                    if (record != nullptr) {
                        record->CommandEnded(send, SendResult::Sent);
                    }
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    if (record != nullptr) {
        record->EndRollout(rollout, "{}");
        record->Flush();
    }
    Run run;
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    run.cpu = CpuSeconds() - cpu;
    run.waitMs = static_cast<double>(waitedUs) / 1000.0 / (static_cast<double>(printers) * commands);
    return run;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 6) {
        std::fprintf(stderr, "usage: record_bench FILE PRINTERS COMMANDS JOBS SEND_US\n");
        return 2;
    }
    const std::string path = argv[1];
    const int printers = std::atoi(argv[2]), commands = std::atoi(argv[3]), jobs = std::atoi(argv[4]),
              sendUs = std::atoi(argv[5]);
    const double total = static_cast<double>(printers) * commands;
    const Run plain = Serve(nullptr, printers, commands, jobs, sendUs);
    RecordProblem problem;
    const std::set<std::string> before = Threads();
    std::unique_ptr<Record> record = Record::Open(path, RecordMode::Write, problem);
    std::string writer;  // the record's writer thread: the one its opening started
    for (const std::string& id : Threads()) {
        writer = before.count(id) == 0 ? id : writer;
    }
    if (record == nullptr) {
        std::fprintf(stderr, "record_bench: %s\n", problem.text.c_str());
        return 1;
    }
    const double writtenBefore = WrittenBytes();
    const Run recorded = Serve(record.get(), printers, commands, jobs, sendUs);
    const double written = WrittenBytes() - writtenBefore;
    const double writerSeconds = writer.empty() ? 0 : ThreadSeconds(writer);
    const std::string failed = record->Problem();
    record.reset();
    const double bytes = static_cast<double>(std::filesystem::file_size(path));
    std::printf("%d printers x %d commands, %d jobs, %d us a send:\n", printers, commands, jobs, sendUs);
    std::printf("  without the record: %.2f s, %.2f s of processor time, %.0f commands/s\n", plain.seconds,
                plain.cpu, total / plain.seconds);
    std::printf("  with the record:    %.2f s, %.2f s of processor time, %.0f commands/s, %.2f ms a wait\n",
                recorded.seconds, recorded.cpu, total / recorded.seconds, recorded.waitMs);
    std::printf("  ratio %.3f; the record's processor time %.1f us a command; %.0f bytes a command on disk\n",
                recorded.seconds / plain.seconds, (recorded.cpu - plain.cpu) / total * 1e6, bytes / total);
    std::printf(
        "  the writer thread: %.2f s of processor time, %.1f us a command; %.0f bytes written a command\n",
        writerSeconds, writerSeconds / total * 1e6, written / total);
    if (!failed.empty()) {
        std::fprintf(stderr, "record_bench: %s\n", failed.c_str());
        return 1;
    }
    return 0;
}
