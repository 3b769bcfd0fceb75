// A TCP client on loopback for the listener tests: connects, sends, and closes when told to.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <gtest/gtest.h>

#include <string>

#include "transport/Messenger.h"

class LoopbackPeer {
  public:
    explicit LoopbackPeer(int port) : m_fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<uint16_t>(port));
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        m_bConnected = ::connect(m_fd.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
        EXPECT_TRUE(m_bConnected) << "connect to 127.0.0.1:" << port;
    }

    bool Connected() const { return m_bConnected; }

    void Send(const std::string& bytes) {
        size_t sent = 0;
        while (sent < bytes.size()) {
            const ssize_t n = ::send(m_fd.Get(), bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            ASSERT_GT(n, 0) << "send";
            sent += static_cast<size_t>(n);
        }
    }

    void Close() { m_fd.Reset(); }

  private:
    UniqueFd m_fd;
    bool m_bConnected = false;
};
