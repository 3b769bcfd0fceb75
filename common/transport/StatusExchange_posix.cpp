// The status exchange's ports on POSIX: TCP and USB printer devices, non-blocking, every wait
// bounded; and what the serial port needs besides the serial transport.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "ErrnoText.h"
#include "Messenger.h"
#include "StatusLink.h"
#include "UsbMessenger.h"

namespace {

using Clock = std::chrono::steady_clock;

int MsLeft(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// A connected socket or an open device, written and read without ever blocking past a bound.
class FdLink : public StatusLink {
  public:
    FdLink(UniqueFd fd, bool socket, int answerTimeoutMs)
        : m_fd(std::move(fd)), m_bSocket(socket), m_nAnswerMs(answerTimeoutMs) {}

    bool Send(const unsigned char* data, int length, std::string& reason) override {
        const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(kWriteTimeoutMs);
        int sent = 0;
        while (sent < length) {
            const size_t left = static_cast<size_t>(length - sent);
            // MSG_NOSIGNAL: a peer that has gone away fails the send instead of ending us. (A
            // device is opened for reading too, so that a FIFO standing for one has a reader.)
            const ssize_t done = m_bSocket ? ::send(m_fd.Get(), data + sent, left, MSG_NOSIGNAL)
                                           : ::write(m_fd.Get(), data + sent, left);
            if (done > 0) {
                sent += static_cast<int>(done);
                continue;
            }
            if (done < 0 && errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) {
                reason = ErrnoText(errno);
                return false;
            }
            const int wait = MsLeft(deadline);
            if (wait == 0) {
                reason = "not taken within " + std::to_string(kWriteTimeoutMs) + " ms";
                return false;
            }
            // In short slices: some drivers have no poll and always look writable.
            pollfd pfd{m_fd.Get(), POLLOUT, 0};
            ::poll(&pfd, 1, wait < 20 ? wait : 20);
        }
        return true;
    }

    int ReceiveByte(std::string& reason) override {
        const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(m_nAnswerMs);
        for (;;) {
            unsigned char byte = 0;
            const ssize_t got = m_bSocket ? ::recv(m_fd.Get(), &byte, 1, 0) : ::read(m_fd.Get(), &byte, 1);
            if (got == 1) {
                return byte;
            }
            if (got == 0 && m_bSocket) {
                reason = "the printer closed the connection";
                return -1;
            }
            if (got < 0 && errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) {
                reason = ErrnoText(errno);
                return -1;
            }
            const int wait = MsLeft(deadline);
            if (wait == 0) {
                reason = "none within " + std::to_string(m_nAnswerMs) + " ms";
                return -1;
            }
            // A device is read again at least every 50 ms: a printer driver may start a read
            // only when asked for one, and not wake poll when it ends.
            pollfd pfd{m_fd.Get(), POLLIN, 0};
            ::poll(&pfd, 1, m_bSocket || wait < 50 ? wait : 50);
        }
    }

  private:
    UniqueFd m_fd;
    bool m_bSocket;
    int m_nAnswerMs;
};

}  // namespace

std::unique_ptr<StatusLink> OpenTcpLink(uint32_t address,
                                        int tcpPort,
                                        int connectTimeoutMs,
                                        int answerTimeoutMs,
                                        LinkFailure& failure) {
    const auto fail = [&failure](int error, const std::string& reason) {
        failure.error = error;
        failure.reason = reason.empty() ? ErrnoText(error) : reason;
        return nullptr;
    };
    UniqueFd sock(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP));
    if (!sock.Valid()) {
        return fail(errno, "");
    }
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(static_cast<uint16_t>(tcpPort & 0xFFFF));
    peer.sin_addr.s_addr = htonl(address);
    if (::connect(sock.Get(), reinterpret_cast<const sockaddr*>(&peer), sizeof peer) != 0) {
        if (errno != EINPROGRESS && errno != EINTR) {
            return fail(errno, "");
        }
        // 0 or less: no bound of ours, the system's own connect time-out applies.
        const bool bounded = connectTimeoutMs > 0;
        const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(connectTimeoutMs);
        for (;;) {
            pollfd pfd{sock.Get(), POLLOUT, 0};
            const int ready = ::poll(&pfd, 1, bounded ? MsLeft(deadline) : -1);
            if (ready > 0) {
                break;
            }
            if (ready < 0 && errno != EINTR) {
                return fail(errno, "");
            }
            if (ready == 0 || (bounded && MsLeft(deadline) == 0)) {
                return fail(ETIMEDOUT,
                            "connection timed out after " + std::to_string(connectTimeoutMs) + " ms");
            }
        }
        int error = 0;
        socklen_t size = sizeof error;
        if (::getsockopt(sock.Get(), SOL_SOCKET, SO_ERROR, &error, &size) != 0) {
            return fail(errno, "");
        }
        if (error != 0) {
            return fail(error, "");
        }
    }
    return std::unique_ptr<StatusLink>(new FdLink(std::move(sock), true, answerTimeoutMs));
}

std::unique_ptr<StatusLink> OpenUsbLink(const std::string& device,
                                        int answerTimeoutMs,
                                        LinkFailure& failure) {
    std::vector<std::string> paths;
    if (!device.empty()) {
        paths.push_back(device);
    } else {
        for (const UsbPrinterInfo& printer : FindUsbPrinters()) {
            paths.push_back(printer.path);
        }
    }
    if (paths.empty()) {
        failure.error = ENODEV;
        failure.reason = "no USB printer found";
        return nullptr;
    }
    // As the USB search does: each printer in turn, the last one kept; one that will not open
    // ends the search.
    UniqueFd fd;
    for (const std::string& path : paths) {
        fd.Reset(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
        if (!fd.Valid()) {
            failure.error = errno;
            failure.reason = (device.empty() ? path + ": " : "") + ErrnoText(errno);
            return nullptr;
        }
    }
    return std::unique_ptr<StatusLink>(new FdLink(std::move(fd), false, answerTimeoutMs));
}

bool StatusComPort::Opened() const {
    return m_fd.Valid();
}

void StatusComPort::DropWaitingInput() {
    ::tcflush(m_fd.Get(), TCIFLUSH);
}
