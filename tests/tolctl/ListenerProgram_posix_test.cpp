// The real tolctl program listening: signals, and running out of file descriptors.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <dirent.h>
#include <chrono>
#include <fstream>
#include <iterator>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "LoopbackPeer.h"
#include "Messenger.h"

namespace {

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
    Program(const std::vector<std::string>& args, int out, int err, rlim_t fileLimit = 0) {
        std::vector<std::string> all = {TOLCTL_PROGRAM};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& arg : all) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);
        m_pid = ::fork();
        if (m_pid == 0) {
            const int null = ::open("/dev/null", O_RDONLY);
            ::dup2(null, 0);
            ::dup2(out, 1);
            ::dup2(err, 2);
            ::close_range(3, ~0U, 0);
            if (fileLimit > 0) {
                const rlimit limit{fileLimit, fileLimit};
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
int FreePort() {
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

bool Listens(int port) {
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return ::connect(fd.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
}

TEST(TolctlListenProgramTest, InterruptRightAfterListeningEndsItCleanly) {
    // Its output pipe is full, so the program is stuck in writing "listening on" when the
    // interrupt comes: a program that sets up its signal handling only after that line dies.
    Pipe out, err;
    ASSERT_EQ(::fcntl(out.write.Get(), F_SETFL, O_NONBLOCK), 0);
    size_t filled = 0;
    for (size_t chunk = 4096; chunk > 0; chunk = chunk == 4096 ? 1 : 0) {
        const std::string filler(chunk, '#');
        while (::write(out.write.Get(), filler.data(), chunk) == static_cast<ssize_t>(chunk)) {
            filled += chunk;
        }
    }
    ASSERT_EQ(::fcntl(out.write.Get(), F_SETFL, 0), 0);
    const int port = FreePort();
    ASSERT_GT(port, 0);
    Program program({"listen", "--port", std::to_string(port)}, out.write.Get(), err.write.Get());
    out.write.Reset();
    err.write.Reset();
    const Clock::time_point end = Clock::now() + std::chrono::seconds(10);
    while (!Listens(port) && Clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ::kill(program.Pid(), SIGINT);
    PipeText text(std::move(out.read));
    EXPECT_EQ(text.ReadToEnd(),
              std::string(filled, '#') + "listening on 127.0.0.1:" + std::to_string(port) + "\n");
    EXPECT_EQ(program.Wait(), "exit 0");
    EXPECT_EQ(PipeText(std::move(err.read)).ReadToEnd(), "");
}

TEST(TolctlListenProgramTest, StopSignalPrintsAndSavesWhatHasArrived) {
    for (const int signal : {SIGINT, SIGTERM}) {
        char dir[] = "/tmp/tol-listen-XXXXXX";
        ASSERT_NE(::mkdtemp(dir), nullptr);
        const std::string save = std::string(dir) + "/received.bin";
        Pipe out, err;
        Program program({"listen", "--port", "0", "--save", save}, out.write.Get(), err.write.Get());
        out.write.Reset();
        err.write.Reset();
        PipeText text(std::move(out.read));
        const int port = std::atoi(text.WaitFor("listening on 127\\.0\\.0\\.1:([0-9]+)\n").c_str());
        ASSERT_GT(port, 0) << PipeText(std::move(err.read)).ReadToEnd();

        LoopbackPeer done(port), open(port);
        done.Send("\x1f\x28\x41");
        done.Close();
        open.Send("\x1d\x56\x01\x1b\x70");  // a cut, and a drawer pulse cut short; the peer stays
        ::kill(program.Pid(), signal);
        EXPECT_EQ(program.Wait(), "exit 0") << signal;
        EXPECT_TRUE(std::regex_match(
            text.ReadToEnd(),
            std::regex("listening on 127\\.0\\.0\\.1:[0-9]+\n"
                       "hex-mode\n"
                       "cut\n"
                       "truncated: 1b 70 [^\n]*\n"
                       "\\(connection from 127\\.0\\.0\\.1:[0-9]+ still open when stopped\\)\n")))
            << signal << ":\n"
            << text.Text();
        std::ifstream file(save, std::ios::binary);
        const std::string saved((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        EXPECT_EQ(saved, "\x1f\x28\x41\x1d\x56\x01\x1b\x70") << signal;
        ::unlink(save.c_str());
        ::rmdir(dir);
    }
}

TEST(TolctlListenProgramTest, OutOfDescriptorsItWaitsQuietlyAndAcceptsAgainOnceSomeAreFree) {
    const rlim_t limit = 12;
    Pipe out, err;
    Program program({"listen", "--port", "0", "--idle-timeout", "60"}, out.write.Get(), err.write.Get(),
                    limit);
    out.write.Reset();
    err.write.Reset();
    PipeText text(std::move(out.read));
    PipeText errors(std::move(err.read));
    const int port = std::atoi(text.WaitFor("listening on 127\\.0\\.0\\.1:([0-9]+)\n").c_str());
    ASSERT_GT(port, 0) << errors.ReadToEnd();

    // Connections that take every descriptor the program has left, then one more.
    size_t room = limit;
    for (const int fd : program.OpenDescriptors()) {
        room -= fd < static_cast<int>(limit) ? 1 : 0;
    }
    std::vector<std::unique_ptr<LoopbackPeer>> fillers;
    for (size_t i = 0; i < room; ++i) {
        fillers.push_back(std::make_unique<LoopbackPeer>(port));
    }
    LoopbackPeer waiting(port);
    EXPECT_NE(errors.WaitFor("(: cannot accept a connection: too many open files; trying again\n)"), "")
        << errors.Text();

    // Meanwhile the connection stays queued and the listening socket readable: the program must
    // not spin on it. Spinning takes nearly all of a processor; resting takes next to nothing.
    const long ticksBefore = program.CpuTicks();
    const Clock::time_point start = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const double cpu = static_cast<double>(program.CpuTicks() - ticksBefore) / ::sysconf(_SC_CLK_TCK);
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    EXPECT_LT(cpu / wall, 0.2) << cpu << " s of processor time in " << wall << " s";

    fillers.clear();
    waiting.Send("\x1d\x56\x01");
    waiting.Close();
    EXPECT_NE(text.WaitFor("(cut\n)"), "") << text.Text();
    ::kill(program.Pid(), SIGTERM);
    EXPECT_EQ(program.Wait(), "exit 0");
}

}  // namespace
