// A TCP client of the emulator's printers, which sit on loopback addresses other than
// 127.0.0.1: connects within a time limit, sends, reads answers.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>

#include <nlohmann/json.hpp>

#include "transport/Messenger.h"

class FleetPeer {
  public:
    /// Connects to `address`:`port` without waiting longer than `timeoutMs`; Error() is 0 when
    /// connected, else the errno (ETIMEDOUT when the connect did not complete in time).
    FleetPeer(const std::string& address, int port, int timeoutMs = 2000, int receiveBuffer = 0)
        : m_fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0)) {
        if (receiveBuffer > 0) {
            ::setsockopt(m_fd.Get(), SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        }
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<uint16_t>(port));
        ::inet_pton(AF_INET, address.c_str(), &addr.sin_addr);
        if (::connect(m_fd.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
            return;
        }
        m_nError = errno;
        if (m_nError != EINPROGRESS) {
            return;
        }
        pollfd pfd{m_fd.Get(), POLLOUT, 0};
        if (::poll(&pfd, 1, timeoutMs) <= 0) {
            m_nError = ETIMEDOUT;
            return;
        }
        socklen_t size = sizeof m_nError;
        ::getsockopt(m_fd.Get(), SOL_SOCKET, SO_ERROR, &m_nError, &size);
    }

    int Error() const { return m_nError; }

    /// Sends all of `bytes` within 5 s; false when the peer would not take them.
    bool Send(const std::string& bytes) {
        size_t sent = 0;
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (sent < bytes.size() && std::chrono::steady_clock::now() < end) {
            const ssize_t n = ::send(m_fd.Get(), bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (n > 0) {
                sent += static_cast<size_t>(n);
            } else if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
                return false;
            } else {
                pollfd pfd{m_fd.Get(), POLLOUT, 0};
                ::poll(&pfd, 1, 50);
            }
        }
        return sent == bytes.size();
    }

    /// Reads until `count` bytes came, the connection ended, or `timeoutMs` passed. `error` gets
    /// the errno that ended the connection, 0 when none did.
    std::string Read(size_t count, int timeoutMs, int* error = nullptr) {
        std::string got;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        int ended = 0;
        while (got.size() < count) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
            pollfd pfd{m_fd.Get(), POLLIN, 0};
            if (left.count() <= 0 || ::poll(&pfd, 1, static_cast<int>(left.count())) <= 0) {
                break;
            }
            char buffer[4096];
            const ssize_t n = ::recv(m_fd.Get(), buffer, std::min(sizeof buffer, count - got.size()), 0);
            if (n > 0) {
                got.append(buffer, static_cast<size_t>(n));
            } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                ended = n == 0 ? -1 : errno;
                break;
            }
        }
        if (error != nullptr) {
            *error = ended;
        }
        return got;
    }

    void Close() { m_fd.Reset(); }

  private:
    UniqueFd m_fd;
    int m_nError = 0;
};

/// The emulator's state file as JSON; null while it is missing or not whole.
inline nlohmann::json ReadState(const std::string& path) {
    std::ifstream file(path);
    const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    return nlohmann::json::parse(text, nullptr, false).is_discarded() ? nlohmann::json()
                                                                      : nlohmann::json::parse(text);
}

/// Reads the state file until `done` holds for it (at most 5 s); answers the last state read.
inline nlohmann::json WaitForState(const std::string& path,
                                   const std::function<bool(const nlohmann::json&)>& done) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    nlohmann::json state = ReadState(path);
    while (!(state.is_object() && done(state)) && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        state = ReadState(path);
    }
    return state;
}
