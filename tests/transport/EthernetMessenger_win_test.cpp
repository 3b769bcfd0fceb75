// TCP to a listener of the test's own on the loopback address.
#include <winsock2.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "EthernetMessenger.h"

namespace {

constexpr uint32_t kLoopback = 0x7F000001;  // 127.0.0.1 in host order

// Windows Sockets for the test itself, and a socket bound to a free loopback port.
class EthernetTest : public ::testing::Test {
  protected:
    void SetUp() override {
        WSADATA data;
        ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
        m_started = true;
        m_socket = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        ASSERT_NE(m_socket, INVALID_SOCKET);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(kLoopback);
        ASSERT_EQ(bind(m_socket, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
        int size = sizeof(address);
        ASSERT_EQ(getsockname(m_socket, reinterpret_cast<sockaddr*>(&address), &size), 0);
        m_port = ntohs(address.sin_port);
    }
    void TearDown() override {
        if (m_socket != INVALID_SOCKET) {
            closesocket(m_socket);
        }
        if (m_started) {
            EXPECT_EQ(WSACleanup(), 0);
            // Every WSAStartup of the messengers was matched: nothing is left to clean up.
            EXPECT_EQ(WSACleanup(), SOCKET_ERROR);
            EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);
        }
    }

    // Accepts one connection and reads it to its end.
    std::string AcceptAll() {
        const SOCKET peer = accept(m_socket, nullptr, nullptr);
        if (peer == INVALID_SOCKET) {
            return "<accept failed>";
        }
        std::string bytes;
        char buffer[65536];
        int got;
        while ((got = recv(peer, buffer, sizeof(buffer), 0)) > 0) {
            bytes.append(buffer, static_cast<size_t>(got));
        }
        closesocket(peer);
        return got == 0 ? bytes : "<recv failed>";
    }

    SOCKET m_socket = INVALID_SOCKET;
    int m_port = 0;

  private:
    bool m_started = false;
};

TEST_F(EthernetTest, SendsExactBytesThenEndOfStream) {
    ASSERT_EQ(listen(m_socket, 1), 0);
    const std::string command("\x1f\x1b\x1f\x91\x00\x49\x50", 7);
    {
        EthernetMessenger messenger(kLoopback, m_port);
        ASSERT_EQ(messenger.Write(command.data(), static_cast<int>(command.size())), 0)
            << messenger.LastErrorText();
        char buffer[1];
        EXPECT_EQ(messenger.Read(buffer, 1), -1);
        EXPECT_EQ(messenger.Open(), 0);  // already connected: no second connection
    }
    // The messenger's deletion closed the connection: the bytes, then the end of the stream.
    EXPECT_EQ(AcceptAll(), command);
}

TEST_F(EthernetTest, LargeWriteArrivesWhole) {
    ASSERT_EQ(listen(m_socket, 1), 0);
    std::string payload(8 * 1024 * 1024, '\0');
    for (size_t i = 0; i < payload.size(); ++i) {
        payload[i] = static_cast<char>(i * 7 + i / 251);
    }
    std::string received;
    std::thread reader([&] { received = AcceptAll(); });
    {
        EthernetMessenger messenger(kLoopback, m_port);
        EXPECT_EQ(messenger.Write(payload.data(), static_cast<int>(payload.size())), 0)
            << messenger.LastErrorText();
    }
    reader.join();
    EXPECT_TRUE(received == payload) << "received " << received.size() << " of " << payload.size()
                                     << " bytes";
}

TEST_F(EthernetTest, RefusedPortFailsAtOnce) {
    // The port is bound but nobody listens on it: the connect is refused.
    const ULONGLONG start = GetTickCount64();
    EthernetMessenger messenger(kLoopback, m_port);
    EXPECT_LT(GetTickCount64() - start, 1000u);
    EXPECT_EQ(messenger.LastError(), WSAECONNREFUSED) << messenger.LastErrorText();
    EXPECT_FALSE(messenger.LastErrorText().empty());
    EXPECT_EQ(messenger.Write("x", 1), -1);
    EXPECT_EQ(messenger.LastError(), WSAECONNREFUSED);
}

TEST_F(EthernetTest, BoundedConnectAlsoConnectsAndRefuses) {
    {
        EthernetMessenger refused(kLoopback, m_port, 1000);
        EXPECT_EQ(refused.LastError(), WSAECONNREFUSED) << refused.LastErrorText();
        EXPECT_EQ(refused.Write("x", 1), -1);
    }
    ASSERT_EQ(listen(m_socket, 1), 0);
    {
        EthernetMessenger messenger(kLoopback, m_port, 1000);
        ASSERT_EQ(messenger.Write("bounded", 7), 0) << messenger.LastErrorText();
    }
    EXPECT_EQ(AcceptAll(), "bounded");
}

}  // namespace
