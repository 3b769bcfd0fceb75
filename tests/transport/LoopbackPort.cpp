// The loopback far end with the socket calls that both platforms have.
#include "tests/transport/LoopbackPort.h"

#include <gtest/gtest.h>

#include <random>

#ifdef _WIN32
#include <ws2tcpip.h>  // socklen_t
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

namespace {

// A peer that has gone away must fail a send, not end the test program with SIGPIPE.
#ifdef MSG_NOSIGNAL
constexpr int kSendFlags = MSG_NOSIGNAL;
#else
constexpr int kSendFlags = 0;
#endif

sockaddr_in LoopbackAddress(uint32_t host, int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(host);
    address.sin_port = htons(static_cast<uint16_t>(port));
    return address;
}

}  // namespace

bool Connection::Send(const std::string& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        const auto now =
            send(m_socket.Get(), bytes.data() + sent, static_cast<int>(bytes.size() - sent), kSendFlags);
        if (now <= 0) {
            return false;
        }
        sent += static_cast<size_t>(now);
    }
    return true;
}

void Connection::Reset() {
    const linger reset{1, 0};
    setsockopt(m_socket.Get(), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&reset), sizeof reset);
    m_socket.Reset();
}

std::string Connection::ReceiveSome(size_t count) {
    std::string bytes(count, '\0');
    const auto got = recv(m_socket.Get(), &bytes[0], static_cast<int>(count), 0);
    bytes.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return bytes;
}

uint32_t RunLoopback() {
    static const uint32_t host = [] {
        std::random_device random;
        return 0x7F5C0000u | ((1 + random() % 254) << 8) | (1 + random() % 254);
    }();
    return host;
}

LoopbackPort::LoopbackPort(int port, int receiveBuffer, uint32_t host)
    : m_socket(NewTcpSocket(false)), m_dwHost(host) {
    if (receiveBuffer > 0) {
        setsockopt(m_socket.Get(), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&receiveBuffer),
                   static_cast<socklen_t>(sizeof receiveBuffer));
    }
    sockaddr_in address = LoopbackAddress(host, port);
    if (bind(m_socket.Get(), reinterpret_cast<sockaddr*>(&address), static_cast<socklen_t>(sizeof address)) !=
        0) {
        ADD_FAILURE() << "cannot bind " << (host >> 24) << "." << ((host >> 16) & 255) << "."
                      << ((host >> 8) & 255) << "." << (host & 255) << ":" << port;
        return;
    }
    socklen_t size = static_cast<socklen_t>(sizeof address);
    if (getsockname(m_socket.Get(), reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        ADD_FAILURE() << "no port number for the bound socket";
        return;
    }
    m_nPort = ntohs(address.sin_port);
}

LoopbackPort::~LoopbackPort() = default;

bool LoopbackPort::Listen(int backlog) {
    return listen(m_socket.Get(), backlog) == 0;
}

Connection LoopbackPort::Accept() {
    return Connection(SocketOwner(accept(m_socket.Get(), nullptr, nullptr)));
}

std::string LoopbackPort::AcceptAll() {
    const SocketOwner peer(accept(m_socket.Get(), nullptr, nullptr));
    if (!peer.Valid()) {
        return "<accept failed>";
    }
    std::string bytes;
    char buffer[65536];
    for (;;) {
        const auto got = recv(peer.Get(), buffer, static_cast<int>(sizeof buffer), 0);
        if (got <= 0) {
            return got == 0 ? bytes : "<recv failed>";
        }
        bytes.append(buffer, static_cast<size_t>(got));
    }
}

void LoopbackPort::FillAcceptQueue(int count) {
    const sockaddr_in address = LoopbackAddress(m_dwHost, m_nPort);
    for (int i = 0; i < count; ++i) {
        SocketOwner filler = NewTcpSocket(true);
        connect(filler.Get(), reinterpret_cast<const sockaddr*>(&address),
                static_cast<socklen_t>(sizeof address));
        m_fillers.emplace_back(std::move(filler));
    }
}
