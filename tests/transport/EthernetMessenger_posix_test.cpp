#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "EthernetMessenger.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr uint32_t kLoopback = 0x7F000001;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// A TCP socket bound to an ephemeral loopback port; listening unless told otherwise.
struct LoopbackPort {
    UniqueFd fd;
    int port = 0;

    explicit LoopbackPort(bool listening = true, int backlog = 16, int receiveBuffer = 0) {
        fd.Reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        if (receiveBuffer > 0) {
            ::setsockopt(fd.Get(), SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        }
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(kLoopback);
        EXPECT_EQ(::bind(fd.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0) << errno;
        socklen_t size = sizeof addr;
        ::getsockname(fd.Get(), reinterpret_cast<sockaddr*>(&addr), &size);
        port = ntohs(addr.sin_port);
        if (listening) {
            EXPECT_EQ(::listen(fd.Get(), backlog), 0) << errno;
        }
    }

    // Accepts one connection and reads it to its end.
    std::string AcceptAndReadAll() {
        UniqueFd peer(::accept(fd.Get(), nullptr, nullptr));
        std::string bytes;
        char buffer[65536];
        ssize_t got;
        while ((got = ::read(peer.Get(), buffer, sizeof buffer)) > 0) {
            bytes.append(buffer, static_cast<size_t>(got));
        }
        return bytes;
    }
};

TEST(EthernetMessengerTest, DeliversExactlyTheBytesThenEndOfStream) {
    LoopbackPort listener;
    const std::string command("\x1d\x56\x01", 3);
    {
        EthernetMessenger messenger(kLoopback, listener.port);
        ASSERT_EQ(messenger.LastErrorText(), "");
        EXPECT_EQ(messenger.Open(), 0);  // already connected
        EXPECT_EQ(messenger.Write(command.data(), static_cast<int>(command.size())), 0);
        EXPECT_EQ(messenger.Read(nullptr, 0), -1);
    }
    // The read below ends only if the messenger closed the connection.
    EXPECT_EQ(listener.AcceptAndReadAll(), command);
}

TEST(EthernetMessengerTest, LargeWriteArrivesWholeThroughPartialSends) {
    LoopbackPort listener;
    std::vector<char> data(6 * 1024 * 1024);
    for (size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<char>(i * 7 + i / 251);
    }
    std::string received;
    std::thread reader([&] { received = listener.AcceptAndReadAll(); });
    {
        EthernetMessenger messenger(kLoopback, listener.port);
        EXPECT_EQ(messenger.Write(data.data(), static_cast<int>(data.size())), 0);
    }
    reader.join();
    EXPECT_TRUE(received == std::string(data.begin(), data.end())) << received.size() << " bytes arrived";
}

TEST(EthernetMessengerTest, PrinterTalkingBackDoesNotChangeTheResult) {
    LoopbackPort listener;
    EthernetMessenger messenger(kLoopback, listener.port);
    UniqueFd peer(::accept(listener.fd.Get(), nullptr, nullptr));
    ASSERT_EQ(::write(peer.Get(), "status", 6), 6);
    EXPECT_EQ(messenger.Write("\x1b\x70\x00\x40\x50", 5), 0);
    char buffer[5];
    EXPECT_EQ(::read(peer.Get(), buffer, sizeof buffer), 5);
}

TEST(EthernetMessengerTest, RefusedConnectFailsAtOnceAndSaysWhy) {
    LoopbackPort bound(/*listening=*/false);  // the port is taken but nobody listens: refused
    const Clock::time_point start = Clock::now();
    EthernetMessenger messenger(kLoopback, bound.port);
    EXPECT_EQ(messenger.LastError(), ECONNREFUSED);
    EXPECT_EQ(messenger.LastErrorText(), "connection refused");
    EXPECT_EQ(messenger.Write("x", 1), -1);
    EXPECT_EQ(messenger.LastError(), ECONNREFUSED);  // the write keeps the reason of the connect
    EXPECT_LT(SecondsSince(start), 1.0);
    EXPECT_EQ(messenger.Close(), 0);
    EXPECT_EQ(messenger.Close(), 0);
}

TEST(EthernetMessengerTest, ConnectGivesUpAfterItsTimeOut) {
    // A listener whose accept queue is full drops further SYNs, so a connect to it neither
    // succeeds nor is refused: it waits, deterministically, on the loopback interface.
    LoopbackPort listener(true, /*backlog=*/0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(kLoopback);
    addr.sin_port = htons(static_cast<uint16_t>(listener.port));
    std::vector<UniqueFd> fillers;
    for (int i = 0; i < 3; ++i) {
        fillers.emplace_back(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
        ::connect(fillers.back().Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));

    const Clock::time_point start = Clock::now();
    EthernetMessenger messenger(kLoopback, listener.port, 400);
    const double elapsed = SecondsSince(start);
    EXPECT_EQ(messenger.LastError(), ETIMEDOUT);
    EXPECT_EQ(messenger.Write("x", 1), -1);
    EXPECT_GE(elapsed, 0.35);
    EXPECT_LT(elapsed, 3.0);
}

TEST(EthernetMessengerTest, PeerThatNeverReadsTimesOut) {
    // A tiny receive buffer and a write far larger than both socket buffers: the send stalls.
    LoopbackPort listener(true, 16, /*receiveBuffer=*/4096);
    EthernetMessenger messenger(kLoopback, listener.port);
    UniqueFd peer(::accept(listener.fd.Get(), nullptr, nullptr));
    std::vector<char> data(32 * 1024 * 1024, 'z');
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(messenger.Write(data.data(), static_cast<int>(data.size())), 258);
    const double elapsed = SecondsSince(start);
    EXPECT_GE(elapsed, 2.4);
    EXPECT_LT(elapsed, 8.0);
    EXPECT_EQ(messenger.LastError(), ETIMEDOUT);
}

TEST(EthernetMessengerTest, PeerGoneMakesTheWriteFailWithoutSignal) {
    LoopbackPort listener;
    EthernetMessenger messenger(kLoopback, listener.port);
    {
        UniqueFd peer(::accept(listener.fd.Get(), nullptr, nullptr));
        // Unread data makes close send a reset, so the next send fails quickly.
        ASSERT_EQ(messenger.Write("abc", 3), 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    int result = 0;
    for (int i = 0; i < 20 && result == 0; ++i) {  // SIGPIPE would end the test program here
        result = messenger.Write("more", 4);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(result, -1);
    EXPECT_TRUE(messenger.LastError() == EPIPE || messenger.LastError() == ECONNRESET)
        << messenger.LastErrorText();
}

}  // namespace
