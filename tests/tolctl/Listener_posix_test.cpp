#include <stdlib.h>
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

#include "tests/tolctl/LoopbackPeer.h"
#include "tolctl/Tolctl.h"
#include "transport/EthernetMessenger.h"

namespace {

// An output stream that another thread can watch while the listener writes to it.
class WatchedOutput : public std::streambuf {
  public:
    // Waits up to 4 s for the text to match `pattern`; answers the first group or "".
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

struct ListenRun {
    WatchedOutput watched;
    std::ostream out{&watched};
    std::ostringstream err;
    int code = -1;
    std::thread thread;

    explicit ListenRun(std::vector<std::string> args) {
        args.insert(args.begin(), "tolctl");
        thread = std::thread([this, args] {
            std::istringstream in;
            code = RunTolctl(args, in, out, err);
        });
    }
    ~ListenRun() {
        if (thread.joinable()) {
            thread.join();
        }
    }
    int Port() { return std::atoi(watched.WaitFor("^listening on 127\\.0\\.0\\.1:([0-9]+)\n").c_str()); }
};

void SendBytes(int port, const std::string& bytes) {
    EthernetMessenger messenger(0x7F000001, port);
    EXPECT_EQ(messenger.Write(bytes.data(), static_cast<int>(bytes.size())), 0) << messenger.LastErrorText();
}

TEST(TolctlListenTest, PrintsTheCommandsOfEachConnectionAndSavesTheBytes) {
    char dir[] = "/tmp/tol-listen-XXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    const std::string save = std::string(dir) + "/received.bin";
    // The global --port names a send port; the one after `listen` is the listening port.
    ListenRun run(
        {"--port", "socket://127.0.0.1:1", "listen", "--port", "0", "--count", "2", "--save", save});
    const int port = run.Port();
    ASSERT_GT(port, 0) << run.watched.Text() << run.err.str();

    SendBytes(port, "\x1d\x56\x01");
    SendBytes(port, std::string("\x1f\x1b\x1d\x00\xc0\xa8\x01\x7b\x1f\x28\x41", 11));
    run.thread.join();
    EXPECT_EQ(run.code, 0) << run.err.str();
    EXPECT_EQ(run.watched.Text(),
              "listening on 127.0.0.1:" + std::to_string(port) + "\ncut\nlan-ip 192.168.1.123\nhex-mode\n");
    std::ifstream file(save, std::ios::binary);
    const std::string saved((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    EXPECT_EQ(saved, std::string("\x1d\x56\x01\x1f\x1b\x1d\x00\xc0\xa8\x01\x7b\x1f\x28\x41", 14));
    ::unlink(save.c_str());
    ::rmdir(dir);
}

TEST(TolctlListenTest, ConnectionsAreServedTogetherAndEachIsPrintedInOnePiece) {
    ListenRun run({"listen", "--port", "0", "--count", "3"});
    const int port = run.Port();
    ASSERT_GT(port, 0) << run.err.str();
    const std::string wifiAp(
        "\x1f\x1a\x1f\x1b\x1f\x03\x0a\x0b\x0c\x02\x03"
        "abc",
        14);
    const std::string lanIp("\x1f\x1b\x1d\x00\xc0\xa8\x01\x7b", 8);
    LoopbackPeer a(port), b(port), c(port);
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
    run.thread.join();
    EXPECT_EQ(run.code, 0) << run.err.str();
    EXPECT_EQ(run.watched.Text(), "listening on 127.0.0.1:" + std::to_string(port) +
                                      "\ncut\nlan-ip 192.168.1.123\nwifi-ap mode=2 name=\"abc\"\n");
}

TEST(TolctlListenTest, SilentPeerIsDroppedAfterTheIdleTimeWithoutHoldingUpOthers) {
    ListenRun run({"listen", "--port", "0", "--idle-timeout", "1", "--count", "2"});
    const int port = run.Port();
    ASSERT_GT(port, 0) << run.err.str();
    const auto start = std::chrono::steady_clock::now();
    LoopbackPeer silent(port);
    silent.Send("\x1d\x56\x01");  // then neither sends nor closes
    LoopbackPeer other(port);
    other.Send("\x1f\x28\x41");
    other.Close();
    EXPECT_NE(run.watched.WaitFor("(hex-mode\n)"), "");
    EXPECT_NE(run.watched.WaitFor("(dropped as idle)"), "");
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    silent.Close();
    run.thread.join();
    EXPECT_EQ(run.code, 0) << run.err.str();
    // The other connection came first, though it came later; what the silent one sent is kept.
    EXPECT_TRUE(std::regex_match(run.watched.Text(),
                                 std::regex("listening on 127\\.0\\.0\\.1:[0-9]+\nhex-mode\ncut\n"
                                            "\\(connection from 127\\.0\\.0\\.1:[0-9]+ dropped as idle: "
                                            "nothing received for 1 s\\)\n")))
        << run.watched.Text();
}

TEST(TolctlListenTest, OnlyTheFirstMebibyteOfAConnectionIsKeptAndTheRestIsCounted) {
    char dir[] = "/tmp/tol-listen-XXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    const std::string save = std::string(dir) + "/received.bin";
    ListenRun run({"listen", "--port", "0", "--count", "1", "--save", save});
    const int port = run.Port();
    ASSERT_GT(port, 0) << run.err.str();
    const size_t keep = 1024 * 1024;
    std::string bytes;
    while (bytes.size() < keep + 1000) {
        bytes += "\x1d\x56\x01";
    }
    bytes.resize(keep + 1000);
    LoopbackPeer peer(port);
    peer.Send(bytes);
    peer.Close();
    run.thread.join();
    EXPECT_EQ(run.code, 0) << run.err.str();

    std::ifstream file(save, std::ios::binary);
    const std::string saved((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
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
    ::unlink(save.c_str());
    ::rmdir(dir);
}

TEST(TolctlListenTest, SaveFileThatCannotBeWrittenIsReportedAndEndsWithExitCode1) {
    ListenRun run({"listen", "--port", "0", "--count", "1", "--save", "/dev/full"});
    const int port = run.Port();
    ASSERT_GT(port, 0) << run.err.str();
    SendBytes(port, "\x1d\x56\x01");
    run.thread.join();
    EXPECT_EQ(run.code, 1);
    EXPECT_EQ(run.err.str(), "tolctl: listen --save: cannot write '/dev/full': no space left on device\n");
    EXPECT_EQ(run.watched.Text(), "listening on 127.0.0.1:" + std::to_string(port) + "\ncut\n");
}

TEST(TolctlListenTest, BadOptionsAreUsageErrors) {
    std::istringstream in;
    std::ostringstream out, err;
    EXPECT_EQ(RunTolctl({"tolctl", "listen", "--port", "70000"}, in, out, err), 2);
    EXPECT_EQ(RunTolctl({"tolctl", "listen", "--count", "0"}, in, out, err), 2);
    EXPECT_EQ(RunTolctl({"tolctl", "listen", "--bind", "300.1.1.1", "--port", "0"}, in, out, err), 2);
    EXPECT_EQ(RunTolctl({"tolctl", "listen", "--idle-timeout", "0"}, in, out, err), 2);
    std::ostringstream zeros;  // octal to some programs
    EXPECT_EQ(RunTolctl({"tolctl", "listen", "--bind", "127.0.0.010", "--port", "0"}, in, out, zeros), 2);
    EXPECT_EQ(RunTolctl({"tolctl", "listen", "--fault", "127.0.0.01=refuse", "--port", "0"}, in, out, zeros),
              2);
    EXPECT_NE(zeros.str().find("--fault: '127.0.0.01': leading zeros are ambiguous"), std::string::npos)
        << zeros.str();
    std::ostringstream saveErr;
    EXPECT_EQ(
        RunTolctl({"tolctl", "listen", "--port", "0", "--save", "/nonexistent/dir/f"}, in, out, saveErr), 2);
    EXPECT_EQ(saveErr.str(),
              "tolctl: listen --save: cannot open '/nonexistent/dir/f': no such file or directory\n");
}

TEST(TolctlListenTest, TakenPortCannotBeListenedOn) {
    ListenRun first({"listen", "--port", "0", "--count", "1"});
    const int port = first.Port();
    ASSERT_GT(port, 0);
    std::istringstream in;
    std::ostringstream out, err;
    EXPECT_EQ(RunTolctl({"tolctl", "listen", "--port", std::to_string(port)}, in, out, err), 1);
    EXPECT_EQ(err.str(), "tolctl: listen 127.0.0.1:" + std::to_string(port) + " : address already in use\n");
    SendBytes(port, "");
}

}  // namespace
