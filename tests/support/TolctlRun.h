// tolctl in the test's own process, with streams of the test's own: Tolctl runs it to its end,
// TolctlThread runs a subcommand that serves (listen) on a thread while the test watches its
// output. (TolctlProgram.h starts the real program instead, where signals and descriptor limits
// matter.)
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <ostream>
#include <regex>
#include <sstream>
#include <streambuf>
#include <string>
#include <thread>
#include <vector>

#include "system/OemText.h"
#include "tests/support/TempDir.h"
#include "tolctl/Tolctl.h"

/// The fleet record of the tolctl that tests run, in a folder of the test process's own: never
/// the user's (TOLCTL_RECORD is set for this process and the programs it starts, unless a test
/// set it already). The folder goes when the process ends.
inline void KeepTestRecordApart() {
    static TempDir folder;
    const char* set = std::getenv("TOLCTL_RECORD");
    if (set != nullptr && *set != '\0') {
        return;
    }
    const std::string path = folder / "record.sqlite";
#ifdef _WIN32
    _putenv_s("TOLCTL_RECORD", path.c_str());
#else
    setenv("TOLCTL_RECORD", path.c_str(), 1);
#endif
}

struct TolctlResult {
    int code = -1;
    std::string out, err;
};

/// Runs `tolctl ARGS...` with `input` as its standard input. The code page is CP437 again
/// afterwards: a --codepage of one run must not leak into the next.
inline TolctlResult Tolctl(std::vector<std::string> args, const std::string& input = "") {
    KeepTestRecordApart();
    args.insert(args.begin(), "tolctl");
    std::istringstream in(input);
    std::ostringstream out, err;
    TolctlResult result;
    result.code = RunTolctl(args, in, out, err);
    SetOemCodePage("CP437");
    result.out = out.str();
    result.err = err.str();
    return result;
}

/// Bytes from hex text ("1d 56 01"), as --dry-run prints them.
inline std::string Unhex(const std::string& hex) {
    std::istringstream pairs(hex);
    std::string bytes, pair;
    while (pairs >> pair) {
        bytes += static_cast<char>(std::stoi(pair, nullptr, 16));
    }
    return bytes;
}

/// The bytes that a single `tolctl ARGS...` sends, read from its --dry-run --show-secrets.
inline std::string DryRunBytes(std::vector<std::string> args) {
    args.insert(args.begin(), {"--dry-run", "--show-secrets"});
    const TolctlResult result = Tolctl(args);
    EXPECT_EQ(result.code, 0) << result.err;
    return Unhex(result.out);
}

/// An output stream that another thread can watch while tolctl writes to it.
class WatchedOutput : public std::streambuf {
  public:
    /// Waits up to 4 s for the text to match `pattern`; answers the first group or "".
    std::string WaitFor(const std::string& pattern) {
        std::unique_lock<std::mutex> lock(m_mutex);
        std::smatch match;
        const std::regex re(pattern);
        m_changed.wait_for(lock, std::chrono::seconds(4),
                           [&] { return std::regex_search(m_text, match, re); });
        return match.size() > 1 ? match[1].str() : "";
    }
    std::string Text() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_text;
    }

  protected:
    int_type overflow(int_type c) override {
        if (c != traits_type::eof()) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_text += traits_type::to_char_type(c);
            m_changed.notify_all();
        }
        return c;
    }

  private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::string m_text;
};

/// `tolctl ARGS...` on a thread of its own; Join waits for its end.
struct TolctlThread {
    WatchedOutput watched;
    std::ostream out{&watched};
    std::ostringstream err;
    int code = -1;
    std::thread thread;

    explicit TolctlThread(std::vector<std::string> args) {
        KeepTestRecordApart();
        args.insert(args.begin(), "tolctl");
        thread = std::thread([this, args] {
            std::istringstream in;
            code = RunTolctl(args, in, out, err);
        });
    }
    ~TolctlThread() { Join(); }
    void Join() {
        if (thread.joinable()) {
            thread.join();
        }
    }
    /// The port of the first "listening on 127.0.0.1:PORT" line (0 when none came within 4 s).
    int Port() { return std::atoi(watched.WaitFor("^listening on 127\\.0\\.0\\.1:([0-9]+)\n").c_str()); }
};
