// The real tolctl program listening: signals, running out of file descriptors; and output that
// cannot be written.
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

#include "tests/support/TolctlProgram.h"
#include "tests/tolctl/LoopbackPeer.h"
#include "transport/Messenger.h"

namespace {

using namespace tolctl_program;

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

TEST(TolctlProgramTest, OutputThatCannotBeWrittenIsAFailureAndSaysWhy) {
    EmulatorProgram printer(std::vector<std::string>{});
    const std::string port = std::to_string(printer.Port());
    TempDir dir;
    std::ofstream(dir / "profile.json") << R"({"bt-name": "Till"})";
    const UniqueFd full(::open("/dev/full", O_WRONLY | O_CLOEXEC));
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"profile", "example"},
             {"--dry-run", "cut"},
             {"scan", "127.0.0.1", "--tcp-port", port},
             {"apply", dir / "profile.json", "--target", "socket://127.0.0.1:" + port, "--gap", "0"},
             {"listen", "--port", "0"}}) {
        Pipe err;
        Program program(args, full.Get(), err.write.Get());
        err.write.Reset();
        EXPECT_EQ(program.Wait(), "exit 1") << args[0];
        EXPECT_EQ(PipeText(std::move(err.read)).ReadToEnd(),
                  "tolctl: cannot write the output: no space left on device\n")
            << args[0];
    }

    // listen prints as connections end: once that output goes nowhere, it stops. (SIGPIPE
    // ignored, as the program inherits it, so that the write fails rather than kills.)
    struct sigaction ignore {};
    struct sigaction old {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGPIPE, &ignore, &old);
    Pipe out, err;
    Program listener({"listen", "--port", "0"}, out.write.Get(), err.write.Get());
    ::sigaction(SIGPIPE, &old, nullptr);
    out.write.Reset();
    err.write.Reset();
    auto text = std::make_unique<PipeText>(std::move(out.read));
    const int listening = std::atoi(text->WaitFor("listening on 127\\.0\\.0\\.1:([0-9]+)\n").c_str());
    text.reset();
    LoopbackPeer(listening).Send("\x1d\x56\x01");
    EXPECT_EQ(listener.Wait(), "exit 1");
    EXPECT_EQ(PipeText(std::move(err.read)).ReadToEnd(), "tolctl: cannot write the output: broken pipe\n");
}

}  // namespace
