// tolctl listen: in-process, what each connection brings and the options; as the real program,
// signals, running out of file descriptors, and output that cannot be written.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <regex>
#include <sstream>
#include <streambuf>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/PrinterClient.h"
#include "tests/support/TolctlProgram.h"
#include "tests/support/TolctlRun.h"
#include "tolctl/Tolctl.h"
#include "transport/EthernetMessenger.h"

namespace {

void SendBytes(int port, const std::string& bytes) {
    EthernetMessenger messenger(0x7F000001, port);
    EXPECT_EQ(messenger.Write(bytes.data(), static_cast<int>(bytes.size())), 0) << messenger.LastErrorText();
}

TEST(TolctlListenTest, PrintsTheCommandsOfEachConnectionAndSavesTheBytes) {
    const TempDir dir;
    const std::string save = dir / "received.bin";
    // The global --port names a send port; the one after `listen` is the listening port.
    TolctlThread run(
        {"--port", "socket://127.0.0.1:1", "listen", "--port", "0", "--count", "2", "--save", save});
    const int port = run.Port();
    ASSERT_GT(port, 0) << run.watched.Text() << run.err.str();

    SendBytes(port, "\x1d\x56\x01");
    SendBytes(port, std::string("\x1f\x1b\x1d\x00\xc0\xa8\x01\x7b\x1f\x28\x41", 11));
    run.Join();
    EXPECT_EQ(run.code, 0) << run.err.str();
    EXPECT_EQ(run.watched.Text(),
              "listening on 127.0.0.1:" + std::to_string(port) + "\ncut\nlan-ip 192.168.1.123\nhex-mode\n");
    const std::string saved = dir.Read("received.bin");
    EXPECT_EQ(saved, std::string("\x1d\x56\x01\x1f\x1b\x1d\x00\xc0\xa8\x01\x7b\x1f\x28\x41", 14));
}

TEST(TolctlListenTest, ConnectionsAreServedTogetherAndEachIsPrintedInOnePiece) {
    TolctlThread run({"listen", "--port", "0", "--count", "3"});
    const int port = run.Port();
    ASSERT_GT(port, 0) << run.err.str();
    const std::string wifiAp(
        "\x1f\x1a\x1f\x1b\x1f\x03\x0a\x0b\x0c\x02\x03"
        "abc",
        14);
    const std::string lanIp("\x1f\x1b\x1d\x00\xc0\xa8\x01\x7b", 8);
    PrinterClient a(port), b(port), c(port);
    // Every command arrives in two pieces, the pieces of the three connections taking turns.
    a.Send(wifiAp.substr(0, 5));
    b.Send(lanIp.substr(0, 3));
    c.Send("\x1d\x56");
    a.Send(wifiAp.substr(5));
    b.Send(lanIp.substr(3));
    c.Send("\x01");
    // Each connection is printed as it ends, whatever the others do.
    c.Close();
    EXPECT_NE(run.watched.WaitFor("(cut\n)"), "");
    b.Close();
    EXPECT_NE(run.watched.WaitFor("(lan-ip 192\\.168\\.1\\.123\n)"), "");
    a.Close();
    run.Join();
    EXPECT_EQ(run.code, 0) << run.err.str();
    EXPECT_EQ(run.watched.Text(), "listening on 127.0.0.1:" + std::to_string(port) +
                                      "\ncut\nlan-ip 192.168.1.123\nwifi-ap mode=2 name=\"abc\"\n");
}

TEST(TolctlListenTest, SilentPeerIsDroppedAfterTheIdleTimeWithoutHoldingUpOthers) {
    TolctlThread run({"listen", "--port", "0", "--idle-timeout", "1", "--count", "2"});
    const int port = run.Port();
    ASSERT_GT(port, 0) << run.err.str();
    const auto start = std::chrono::steady_clock::now();
    PrinterClient silent(port);
    silent.Send("\x1d\x56\x01");  // then neither sends nor closes
    PrinterClient other(port);
    other.Send("\x1f\x28\x41");
    other.Close();
    EXPECT_NE(run.watched.WaitFor("(hex-mode\n)"), "");
    EXPECT_NE(run.watched.WaitFor("(dropped as idle)"), "");
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    silent.Close();
    run.Join();
    EXPECT_EQ(run.code, 0) << run.err.str();
    // The other connection came first, though it came later; what the silent one sent is kept.
    EXPECT_TRUE(std::regex_match(run.watched.Text(),
                                 std::regex("listening on 127\\.0\\.0\\.1:[0-9]+\nhex-mode\ncut\n"
                                            "\\(connection from 127\\.0\\.0\\.1:[0-9]+ dropped as idle: "
                                            "nothing received for 1 s\\)\n")))
        << run.watched.Text();
}

TEST(TolctlListenTest, OnlyTheFirstMebibyteOfAConnectionIsKeptAndTheRestIsCounted) {
    const TempDir dir;
    const std::string save = dir / "received.bin";
    TolctlThread run({"listen", "--port", "0", "--count", "1", "--save", save});
    const int port = run.Port();
    ASSERT_GT(port, 0) << run.err.str();
    const size_t keep = 1024 * 1024;
    std::string bytes;
    while (bytes.size() < keep + 1000) {
        bytes += "\x1d\x56\x01";
    }
    bytes.resize(keep + 1000);
    PrinterClient peer(port);
    peer.Send(bytes);
    peer.Close();
    run.Join();
    EXPECT_EQ(run.code, 0) << run.err.str();

    const std::string saved = dir.Read("received.bin");
    EXPECT_EQ(saved.size(), keep);
    EXPECT_TRUE(saved == bytes.substr(0, keep));
    const std::string text = run.watched.Text();
    std::istringstream lines(text);
    std::string line, last, beforeLast;
    size_t cuts = 0;
    while (std::getline(lines, line)) {
        cuts += line == "cut";
        beforeLast = last;
        last = line;
    }
    EXPECT_EQ(cuts, keep / 3);
    EXPECT_EQ(beforeLast.rfind("truncated: 1d ", 0), 0u) << beforeLast;  // where the first MiB ends
    EXPECT_TRUE(std::regex_match(
        last, std::regex(
                  "\\(connection from 127\\.0\\.0\\.1:[0-9]+: 1000 bytes past the first 1048576 dropped\\)")))
        << last;
}

TEST(TolctlListenTest, SaveFileThatCannotBeWrittenIsReportedAndEndsWithExitCode1) {
    TolctlThread run({"listen", "--port", "0", "--count", "1", "--save", "/dev/full"});
    const int port = run.Port();
    ASSERT_GT(port, 0) << run.err.str();
    SendBytes(port, "\x1d\x56\x01");
    run.Join();
    EXPECT_EQ(run.code, 1);
    EXPECT_EQ(run.err.str(), "tolctl: listen --save: cannot write '/dev/full': no space left on device\n");
    EXPECT_EQ(run.watched.Text(), "listening on 127.0.0.1:" + std::to_string(port) + "\ncut\n");
}

TEST(TolctlListenTest, BadOptionsAreUsageErrors) {
    EXPECT_EQ(Tolctl({"listen", "--port", "70000"}).code, 2);
    EXPECT_EQ(Tolctl({"listen", "--count", "0"}).code, 2);
    EXPECT_EQ(Tolctl({"listen", "--bind", "300.1.1.1", "--port", "0"}).code, 2);
    EXPECT_EQ(Tolctl({"listen", "--idle-timeout", "0"}).code, 2);
    // Octal to some programs.
    EXPECT_EQ(Tolctl({"listen", "--bind", "127.0.0.010", "--port", "0"}).code, 2);
    const TolctlResult zeros = Tolctl({"listen", "--fault", "127.0.0.01=refuse", "--port", "0"});
    EXPECT_EQ(zeros.code, 2);
    EXPECT_NE(zeros.err.find("--fault: '127.0.0.01': leading zeros are ambiguous"), std::string::npos)
        << zeros.err;
    const TolctlResult save = Tolctl({"listen", "--port", "0", "--save", "/nonexistent/dir/f"});
    EXPECT_EQ(save.code, 2);
    EXPECT_EQ(save.err,
              "tolctl: listen --save: cannot open '/nonexistent/dir/f': no such file or directory\n");
}

TEST(TolctlListenTest, TakenPortCannotBeListenedOn) {
    TolctlThread first({"listen", "--port", "0", "--count", "1"});
    const int port = first.Port();
    ASSERT_GT(port, 0);
    const TolctlResult taken = Tolctl({"listen", "--port", std::to_string(port)});
    EXPECT_EQ(taken.code, 1);
    EXPECT_EQ(taken.err, "tolctl: listen 127.0.0.1:" + std::to_string(port) + " : address already in use\n");
    SendBytes(port, "");
}

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
        const TempDir dir;
        const std::string save = dir / "received.bin";
        EmulatorProgram program({"--save", save});
        const int port = program.Port();
        PipeText& text = program.Output();

        PrinterClient done(port), open(port);
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
        const std::string saved = dir.Read("received.bin");
        EXPECT_EQ(saved, "\x1f\x28\x41\x1d\x56\x01\x1b\x70") << signal;
    }
}

TEST(TolctlListenProgramTest, OutOfDescriptorsItWaitsQuietlyAndAcceptsAgainOnceSomeAreFree) {
    const rlim_t limit = 12;
    EmulatorProgram program({"--idle-timeout", "60"}, limit);
    const int port = program.Port();
    PipeText& text = program.Output();
    PipeText& errors = program.Errors();

    // Connections that take every descriptor the program has left, then one more.
    size_t room = limit;
    for (const int fd : program.Process().OpenDescriptors()) {
        room -= fd < static_cast<int>(limit) ? 1 : 0;
    }
    std::vector<std::unique_ptr<PrinterClient>> fillers;
    for (size_t i = 0; i < room; ++i) {
        fillers.push_back(std::make_unique<PrinterClient>(port));
    }
    PrinterClient waiting(port);
    EXPECT_NE(errors.WaitFor("(: cannot accept a connection: too many open files; trying again\n)"), "")
        << errors.Text();

    // Meanwhile the connection stays queued and the listening socket readable: the program must
    // not spin on it. Spinning takes nearly all of a processor; resting takes next to nothing.
    const long ticksBefore = program.Process().CpuTicks();
    const Clock::time_point start = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const double cpu =
        static_cast<double>(program.Process().CpuTicks() - ticksBefore) / ::sysconf(_SC_CLK_TCK);
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
        TolctlProgram program(args, {"", 0, 0, full.Get()});
        EXPECT_EQ(program.Wait(), "exit 1") << args[0];
        EXPECT_EQ(program.Errors().ReadToEnd(), "tolctl: cannot write the output: no space left on device\n")
            << args[0];
    }

    // listen prints as connections end: once that output goes nowhere, it stops. (SIGPIPE
    // ignored, as the program inherits it, so that the write fails rather than kills.)
    struct sigaction ignore {};
    struct sigaction old {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGPIPE, &ignore, &old);
    EmulatorProgram listener(std::vector<std::string>{});
    ::sigaction(SIGPIPE, &old, nullptr);
    listener.CloseOutput();
    PrinterClient(listener.Port()).Send("\x1d\x56\x01");
    EXPECT_EQ(listener.Wait(), "exit 1");
    EXPECT_EQ(listener.Errors().ReadToEnd(), "tolctl: cannot write the output: broken pipe\n");
}

}  // namespace
