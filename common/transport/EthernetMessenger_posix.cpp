// A printer on TCP, POSIX sockets: a connect bounded by the connect time-out, sends bounded by
// kWriteTimeoutMs and receives by the receive time-out.
#include "transport/EthernetMessenger.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace {

using Clock = std::chrono::steady_clock;

// Milliseconds left until `deadline`, at least 0.
int MsLeft(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace

EthernetMessenger::EthernetMessenger(uint32_t address, int tcpPort, int connectTimeoutMs)
    : m_nPort(tcpPort), m_dwAddress(address), m_nConnectTimeoutMs(connectTimeoutMs), m_bConnected(false) {
    Open();
}

EthernetMessenger::~EthernetMessenger() {
    Close();
}

int EthernetMessenger::Open() {
    if (m_bConnected) {
        return kMessengerOk;
    }
    // Non-blocking from the start, so that neither the connect nor a send can outlast its bound.
    UniqueFd sock(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP));
    if (!sock.Valid()) {
        KeepSystemError();
        return kMessengerFailed;
    }
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(static_cast<uint16_t>(m_nPort & 0xFFFF));
    peer.sin_addr.s_addr = htonl(m_dwAddress);
    if (::connect(sock.Get(), reinterpret_cast<const sockaddr*>(&peer), sizeof peer) != 0) {
        if (errno != EINPROGRESS && errno != EINTR) {
            KeepSystemError();
            return kMessengerFailed;  // the socket closes with `sock`
        }
        // 0 or less: no bound of ours, the system's own connect time-out applies.
        const bool bounded = m_nConnectTimeoutMs > 0;
        const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(m_nConnectTimeoutMs);
        for (;;) {
            pollfd pfd{sock.Get(), POLLOUT, 0};
            const int ready = ::poll(&pfd, 1, bounded ? MsLeft(deadline) : -1);
            if (ready > 0) {
                break;
            }
            if (ready < 0 && errno != EINTR) {
                KeepSystemError();
                return kMessengerFailed;
            }
            if (ready == 0 || (bounded && MsLeft(deadline) == 0)) {
                KeepError(ETIMEDOUT,
                          "connection timed out after " + std::to_string(m_nConnectTimeoutMs) + " ms");
                return kMessengerFailed;
            }
        }
        int error = 0;
        socklen_t size = sizeof error;
        if (::getsockopt(sock.Get(), SOL_SOCKET, SO_ERROR, &error, &size) != 0) {
            KeepSystemError();
            return kMessengerFailed;
        }
        if (error != 0) {
            KeepError(error);
            return kMessengerFailed;
        }
    }
    m_socket = std::move(sock);
    m_bConnected = true;
    KeepError(0, "");
    return kMessengerOk;
}

int EthernetMessenger::Close() {
    // No shutdown first: closing sends the end of the stream after the bytes still queued.
    m_socket.Reset();
    m_bConnected = false;
    return kMessengerOk;
}

int EthernetMessenger::Write(const void* data, int length) {
    if (!m_bConnected) {
        return kMessengerFailed;  // why the connect failed is already kept
    }
    if (length < 0 || (data == nullptr && length > 0)) {
        KeepError(EINVAL);
        return kMessengerFailed;
    }
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(kWriteTimeoutMs);
    const char* next = static_cast<const char*>(data);
    size_t left = static_cast<size_t>(length);
    while (left > 0) {
        // MSG_NOSIGNAL: a peer that has gone away makes send fail with EPIPE, not kill us.
        const ssize_t sent = ::send(m_socket.Get(), next, left, MSG_NOSIGNAL);
        if (sent > 0) {
            next += sent;
            left -= static_cast<size_t>(sent);
            continue;
        }
        if (sent < 0 && errno == EINTR) {
            continue;
        }
        if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            KeepSystemError();
            return kMessengerFailed;
        }
        const int wait = MsLeft(deadline);
        if (wait == 0) {
            KeepError(ETIMEDOUT, "write timed out: the printer did not take all the bytes within " +
                                     std::to_string(kWriteTimeoutMs) + " ms");
            return kMessengerTimeout;
        }
        pollfd pfd{m_socket.Get(), POLLOUT, 0};
        if (::poll(&pfd, 1, wait) < 0 && errno != EINTR) {
            KeepSystemError();
            return kMessengerFailed;
        }
    }
    return kMessengerOk;
}

int EthernetMessenger::Receive(void* buffer, int length) {
    if (!m_bConnected) {
        return kMessengerFailed;  // why the connect failed is already kept
    }
    if (length < 0 || (buffer == nullptr && length > 0)) {
        KeepError(EINVAL);
        return kMessengerFailed;
    }
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(m_nReceiveTimeoutMs);
    char* next = static_cast<char*>(buffer);
    size_t left = static_cast<size_t>(length);
    while (left > 0) {
        const ssize_t got = ::recv(m_socket.Get(), next, left, 0);
        if (got > 0) {
            next += got;
            left -= static_cast<size_t>(got);
            continue;
        }
        if (got == 0) {
            KeepError(ECONNRESET, "the printer closed the connection");
            return kMessengerFailed;
        }
        if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) {
            KeepSystemError();
            return kMessengerFailed;
        }
        const int wait = MsLeft(deadline);
        if (wait == 0) {
            KeepError(ETIMEDOUT, "none within " + std::to_string(m_nReceiveTimeoutMs) + " ms");
            return kMessengerTimeout;
        }
        pollfd pfd{m_socket.Get(), POLLIN, 0};
        if (::poll(&pfd, 1, wait) < 0 && errno != EINTR) {
            KeepSystemError();
            return kMessengerFailed;
        }
    }
    return kMessengerOk;
}

int EthernetMessenger::DropWaitingInput(int most) {
    int dropped = 0;
    char discard[512];
    while (m_bConnected && dropped < most) {
        const size_t want = static_cast<size_t>(most - dropped) < sizeof discard
                                ? static_cast<size_t>(most - dropped)
                                : sizeof discard;
        const ssize_t got = ::recv(m_socket.Get(), discard, want, MSG_DONTWAIT);
        if (got > 0) {
            dropped += static_cast<int>(got);
        } else if (got < 0 && errno == EINTR) {
            continue;
        } else {
            break;  // nothing more now, the end, or a failure: the next Receive tells
        }
    }
    return dropped;
}

int EthernetMessenger::EndAndAwaitClose(int timeoutMs) {
    if (!m_bConnected) {
        return kMessengerFailed;
    }
    int result = kMessengerOk;
    if (::shutdown(m_socket.Get(), SHUT_WR) != 0) {
        // A reset that came first leaves "not connected" here; the reset is the reason to give.
        const int shutdownError = errno;
        int pending = 0;
        socklen_t size = sizeof pending;
        if (::getsockopt(m_socket.Get(), SOL_SOCKET, SO_ERROR, &pending, &size) != 0 || pending == 0) {
            pending = shutdownError;
        }
        KeepError(pending);
        result = kMessengerFailed;
    }
    // The deadline holds whatever arrives: a printer that keeps talking does not hold it open.
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    char discard[512];
    while (result == kMessengerOk) {
        const ssize_t got = ::recv(m_socket.Get(), discard, sizeof discard, 0);
        if (got == 0) {
            break;  // the printer closed its side: it read to the end
        }
        if (got < 0 && errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) {
            KeepSystemError();
            result = kMessengerFailed;
            break;
        }
        const int wait = MsLeft(deadline);
        if (wait == 0) {
            KeepError(ETIMEDOUT,
                      "the printer still held the connection after " + std::to_string(timeoutMs) + " ms");
            result = kMessengerTimeout;
        } else if (got < 0 && errno != EINTR) {
            pollfd pfd{m_socket.Get(), POLLIN, 0};
            if (::poll(&pfd, 1, wait) < 0 && errno != EINTR) {
                KeepSystemError();
                result = kMessengerFailed;
            }
        }
    }
    Close();
    return result;
}

void EthernetMessenger::KeepNetworkStarted() {}
