// The status exchange's ports on POSIX: USB printer devices, non-blocking, every wait bounded;
// and what the serial port needs besides the serial transport.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "system/ErrnoText.h"
#include "transport/DeviceFile.h"
#include "transport/Messenger.h"
#include "transport/StatusLink.h"
#include "transport/UsbMessenger.h"

namespace {

using Clock = std::chrono::steady_clock;

int MsLeft(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// Reads and drops what the non-blocking `fd` holds now, at most `most` bytes; answers how many.
int DropReadable(int fd, int most) {
    int dropped = 0;
    char discard[512];
    while (dropped < most) {
        const size_t left = static_cast<size_t>(most - dropped);
        const ssize_t got = ::read(fd, discard, left < sizeof discard ? left : sizeof discard);
        if (got > 0) {
            dropped += static_cast<int>(got);
        } else if (got < 0 && errno == EINTR) {
            continue;
        } else {
            break;  // nothing more now, the end, or a failure: the next read tells
        }
    }
    return dropped;
}

// An open device, written and read without ever blocking past a bound.
class DeviceLink : public StatusLink {
  public:
    DeviceLink(UniqueFd fd, int answerTimeoutMs) : m_fd(std::move(fd)), m_nAnswerMs(answerTimeoutMs) {}

    bool Send(const unsigned char* data, int length, std::string& reason) override {
        const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(kWriteTimeoutMs);
        int sent = 0;
        while (sent < length) {
            const size_t left = static_cast<size_t>(length - sent);
            // The device is opened for reading too, so that a FIFO standing for one has a reader.
            const ssize_t done = ::write(m_fd.Get(), data + sent, left);
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
            const ssize_t got = ::read(m_fd.Get(), &byte, 1);
            if (got == 1) {
                return byte;
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
            // Read again at least every 50 ms: a printer driver may start a read only when
            // asked for one, and not wake poll when it ends.
            pollfd pfd{m_fd.Get(), POLLIN, 0};
            ::poll(&pfd, 1, wait < 50 ? wait : 50);
        }
    }

    int DropInput() override { return DropReadable(m_fd.Get(), kMostDroppedBytes); }

  private:
    UniqueFd m_fd;
    int m_nAnswerMs;
};

}  // namespace

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
        const std::string unfit = NotADevice(fd.Get(), path);
        if (!unfit.empty()) {
            failure.error = EINVAL;
            failure.reason = unfit;
            return nullptr;  // closed before anything is written
        }
    }
    return std::unique_ptr<StatusLink>(new DeviceLink(std::move(fd), answerTimeoutMs));
}

bool StatusComPort::Opened() const {
    return m_fd.Valid();
}

int StatusComPort::DropWaitingInput(int most) {
    const int kept = DropKept();
    return kept + (m_fd.Valid() ? DropReadable(m_fd.Get(), most) : 0);
}

bool IsResetError(int code) {
    return code == ECONNRESET || code == ECONNABORTED || code == EPIPE;
}
