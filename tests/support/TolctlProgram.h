// The real tolctl program for tests (TolctlProgram): started with fork and exec, its output read
// as it comes; `tolctl listen` as a program (EmulatorProgram); and the ports tests use. Natively.
#pragma once

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/TempDir.h"
#include "tests/support/TolctlRun.h"
#include "transport/Messenger.h"

namespace tolctl_program {

using Clock = std::chrono::steady_clock;

struct Pipe {
    UniqueFd read, write;
    Pipe() {
        int fds[2] = {-1, -1};
        EXPECT_EQ(::pipe2(fds, O_CLOEXEC), 0);
        read.Reset(fds[0]);
        write.Reset(fds[1]);
    }
};

// What a program writes to a pipe, read as it comes.
class PipeText {
  public:
    explicit PipeText(UniqueFd fd) : m_fd(std::move(fd)) {}

    /// Reads until the text read so far matches `pattern`, the pipe ends, or 10 s passed;
    /// answers the first group of the match, or "" when there is none.
    std::string WaitFor(const std::string& pattern) {
        const std::regex re(pattern);
        std::smatch match;
        const Clock::time_point end = Clock::now() + std::chrono::seconds(10);
        while (!std::regex_search(m_text, match, re)) {
            if (!ReadSome(end)) {
                return "";
            }
        }
        return match.size() > 1 ? match[1].str() : "";
    }
    /// Reads until the pipe ends (at most 10 s); answers all the text.
    const std::string& ReadToEnd() {
        const Clock::time_point end = Clock::now() + std::chrono::seconds(10);
        while (ReadSome(end)) {
        }
        return m_text;
    }
    const std::string& Text() const { return m_text; }

  private:
    bool ReadSome(Clock::time_point end) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
        pollfd pfd{m_fd.Get(), POLLIN, 0};
        if (!m_fd.Valid() || left.count() <= 0 || ::poll(&pfd, 1, static_cast<int>(left.count())) <= 0) {
            return false;
        }
        char buffer[65536];
        const ssize_t got = ::read(m_fd.Get(), buffer, sizeof buffer);
        if (got <= 0) {
            m_fd.Reset();
            return false;
        }
        m_text.append(buffer, static_cast<size_t>(got));
        return true;
    }

    UniqueFd m_fd;
    std::string m_text;
};

// tolctl started with `args`, its standard output and error going to the pipes given.
class Program {
  public:
    /// `fileLimit` sets both limits on open files; `hardLimit`, when given, the hard one apart.
    Program(const std::vector<std::string>& args,
            int out,
            int err,
            rlim_t fileLimit = 0,
            rlim_t hardLimit = 0) {
        std::vector<std::string> all = {TOLCTL_PROGRAM};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& arg : all) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);
        KeepTestRecordApart();
        m_pid = ::fork();
        if (m_pid == 0) {
            const int null = ::open("/dev/null", O_RDONLY);
            ::dup2(null, 0);
            ::dup2(out, 1);
            ::dup2(err, 2);
            ::close_range(3, ~0U, 0);
            if (fileLimit > 0) {
                const rlimit limit{fileLimit, hardLimit > 0 ? hardLimit : fileLimit};
                ::setrlimit(RLIMIT_NOFILE, &limit);
            }
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        EXPECT_GT(m_pid, 0);
    }
    ~Program() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    pid_t Pid() const { return m_pid; }

    /// Waits up to 10 s for the program to end; answers how it ended ("exit 0", "signal 2") or
    /// "running".
    std::string Wait() {
        const Clock::time_point end = Clock::now() + std::chrono::seconds(10);
        int status = 0;
        while (m_pid > 0 && ::waitpid(m_pid, &status, WNOHANG) == 0) {
            if (Clock::now() > end) {
                return "running";
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        m_pid = -1;
        return WIFEXITED(status) ? "exit " + std::to_string(WEXITSTATUS(status))
                                 : "signal " + std::to_string(WTERMSIG(status));
    }

    /// Processor time the program has used so far (user and system), in clock ticks.
    long CpuTicks() const {
        std::ifstream stat("/proc/" + std::to_string(m_pid) + "/stat");
        const std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
        std::istringstream fields(text.substr(text.rfind(')') + 2));
        std::string field;
        long ticks = 0;
        for (int i = 3; i <= 15 && fields >> field; ++i) {
            if (i >= 14) {  // utime and stime
                ticks += std::stol(field);
            }
        }
        return ticks;
    }

    /// Descriptor numbers the program has open.
    std::vector<int> OpenDescriptors() const {
        std::vector<int> numbers;
        const std::string path = "/proc/" + std::to_string(m_pid) + "/fd";
        std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(path.c_str()), ::closedir);
        while (dir != nullptr) {
            const dirent* entry = ::readdir(dir.get());
            if (entry == nullptr) {
                break;
            }
            if (entry->d_name[0] != '.') {
                numbers.push_back(std::atoi(entry->d_name));
            }
        }
        return numbers;
    }

  private:
    pid_t m_pid = -1;
};

// A loopback port that was free a moment ago.
inline int FreePort() {
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof addr;
    if (::bind(fd.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::getsockname(fd.Get(), reinterpret_cast<sockaddr*>(&addr), &size) != 0) {
        return 0;
    }
    return ntohs(addr.sin_port);
}

inline bool Listens(int port) {
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return ::connect(fd.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
}

/// A connection to 127.0.0.1:`port` (not Valid when it is refused).
inline UniqueFd ConnectTo(int port) {
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        fd.Reset();
    }
    return fd;
}

/// Sends all of `text` on `fd`; false when it cannot.
inline bool SendAll(const UniqueFd& fd, const std::string& text) {
    return ::send(fd.Get(), text.data(), text.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(text.size());
}

/// Clients that send a request's head a line at a time and never end it.
class SlowClients {
  public:
    /// `count` connections to `port`, each sending `start` (a request line, some headers).
    SlowClients(int port, size_t count, const std::string& start) : m_fds(count) {
        for (UniqueFd& fd : m_fds) {
            fd = ConnectTo(port);
            EXPECT_TRUE(fd.Valid() && SendAll(fd, start));
        }
    }
    /// Sends one more header line on each connection; answers how many the server has not ended.
    size_t Drip() {
        size_t open = 0;
        for (UniqueFd& fd : m_fds) {
            char scrap[512];
            const ssize_t got = fd.Valid() ? ::recv(fd.Get(), scrap, sizeof scrap, MSG_DONTWAIT) : 0;
            if (got == 0 || (got < 0 && errno != EAGAIN) || !SendAll(fd, "X-Slow: 1\r\n")) {
                fd.Reset();
                continue;
            }
            ++open;
        }
        return open;
    }

  private:
    std::vector<UniqueFd> m_fds;
};

/// How a TolctlProgram starts.
struct ProgramStart {
    /// A regular expression for the line of its output that names its port (the first group),
    /// awaited before the constructor returns; "" for none.
    std::string portLine;
    rlim_t fileLimit = 0;  // both limits on open files (0: as the test has them)
    rlim_t hardLimit = 0;  // the hard limit apart, when given
    int out = -1;          // the program's standard output, when not a pipe of the test's
    int err = -1;          // its standard error, when not a pipe of the test's
};

/// The real tolctl, `tolctl ARGS...`, started as a program: its standard output and error read
/// as they come, the port it serves on (listen, monitor, console) taken from its output.
class TolctlProgram {
  public:
    explicit TolctlProgram(const std::vector<std::string>& args, const ProgramStart& start = {}) {
        m_program = std::make_unique<Program>(args, start.out >= 0 ? start.out : m_out.write.Get(),
                                              start.err >= 0 ? start.err : m_err.write.Get(), start.fileLimit,
                                              start.hardLimit);
        m_out.write.Reset();
        m_err.write.Reset();
        m_text = std::make_unique<PipeText>(std::move(m_out.read));
        m_errors = std::make_unique<PipeText>(std::move(m_err.read));
        if (!start.portLine.empty()) {
            m_port = std::atoi(m_text->WaitFor(start.portLine).c_str());
            EXPECT_GT(m_port, 0) << m_text->Text() << m_errors->ReadToEnd();
        }
    }

    int Port() const { return m_port; }
    pid_t Pid() const { return m_program->Pid(); }
    Program& Process() { return *m_program; }
    PipeText& Output() { return *m_text; }
    PipeText& Errors() { return *m_errors; }
    /// Waits up to 10 s for its end (Program::Wait).
    std::string Wait() { return m_program->Wait(); }

    /// Closes the reading end of its output, as `| head -1` would.
    void CloseOutput() { m_text = std::make_unique<PipeText>(UniqueFd()); }

    /// Ends it with SIGTERM; answers how it ended ("exit 0"). What it still prints is read
    /// meanwhile, so that it never waits for room in its output pipe.
    std::string Stop() {
        ::kill(m_program->Pid(), SIGTERM);
        m_text->ReadToEnd();
        return m_program->Wait();
    }

  private:
    Pipe m_out, m_err;
    std::unique_ptr<Program> m_program;
    std::unique_ptr<PipeText> m_text, m_errors;
    int m_port = 0;
};

/// `tolctl listen --port PORT ARGS...` (PORT 0: one it chooses) running until stopped.
class EmulatorProgram : public TolctlProgram {
  public:
    explicit EmulatorProgram(const std::vector<std::string>& args,
                             rlim_t fileLimit = 0,
                             rlim_t hardLimit = 0,
                             int port = 0)
        : TolctlProgram(Arguments(args, port), {"listening on [0-9.-]+:([0-9]+)", fileLimit, hardLimit}) {}

  private:
    static std::vector<std::string> Arguments(const std::vector<std::string>& args, int port) {
        std::vector<std::string> all = {"listen", "--port", std::to_string(port)};
        all.insert(all.end(), args.begin(), args.end());
        return all;
    }
};

}  // namespace tolctl_program
