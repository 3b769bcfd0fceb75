// Serial and parallel ports on POSIX: /dev/ttyS0-1 and /dev/lp0-2, or any device by path.
#include "transport/SerialMessengers.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

#include "transport/DeviceFile.h"

namespace {

speed_t SpeedOf(int baudRate) {
    switch (baudRate) {
        case 1200:
            return B1200;
        case 2400:
            return B2400;
        case 4800:
            return B4800;
        case 9600:
            return B9600;
        case 19200:
            return B19200;
        case 38400:
            return B38400;
        case 57600:
            return B57600;
        case 115200:
            return B115200;
        case 230400:
            return B230400;
        default:
            return B0;
    }
}

// Opens `device` for this process alone. TIOCEXCL (for terminals) keeps other openers out, but
// not root; the advisory lock covers everyone who asks for it, root included, and the parallel
// port, where TIOCEXCL does not apply. Answers the descriptor, or -1 with errno set; a descriptor
// that leads to no device (NotADevice) is closed again unwritten, -1 with `unfit` saying why.
int OpenExclusive(const std::string& device, int access, std::string& unfit) {
    UniqueFd fd(::open(device.c_str(), access | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!fd.Valid()) {
        return -1;
    }
    unfit = NotADevice(fd.Get(), device);
    if (!unfit.empty()) {
        return -1;
    }
    if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
        const int error = errno == EWOULDBLOCK ? EBUSY : errno;
        fd.Reset();
        errno = error;
        return -1;
    }
    return fd.Release();
}

void SleepMs(int ms) {
    timespec pause{ms / 1000, (ms % 1000) * 1000 * 1000L};
    while (nanosleep(&pause, &pause) == -1 && errno == EINTR) {
    }
}

}  // namespace

int ComMessenger::OpenPort(int portNumber, int baudRate) {
    if (portNumber == 0 || portNumber == 1) {
        OpenDevice("/dev/ttyS" + std::to_string(portNumber), baudRate);
    } else {
        Close();  // a device opened before is not written to any more
        KeepError(ENODEV, "no serial port number " + std::to_string(portNumber));
    }
    return kMessengerOk;  // the outcome shows in the next Write
}

int ComMessenger::OpenDevice(const std::string& device, int baudRate) {
    // Whatever was open before is let go first, also when this open fails: later writes must not
    // reach the earlier device (and its lock must not keep this open of the same one out).
    Close();
    const speed_t speed = SpeedOf(baudRate);
    if (speed == B0) {
        KeepError(EINVAL, "unsupported baud rate " + std::to_string(baudRate));
        return kMessengerOk;
    }
    std::string unfit;
    UniqueFd fd(OpenExclusive(device, O_RDWR, unfit));
    if (!fd.Valid()) {
        if (unfit.empty()) {
            KeepSystemError();
        } else {
            KeepError(EINVAL, unfit);
        }
        return kMessengerOk;
    }
    KeepError(0, "");
    termios tio{};
    if (::tcgetattr(fd.Get(), &tio) == 0) {
        ::ioctl(fd.Get(), TIOCEXCL);
        // Raw bytes, 8N1, no flow control of either kind; CLOCAL so that a missing DCD does
        // not hold the writes.
        ::cfmakeraw(&tio);
        tio.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
        tio.c_cflag |= CS8 | CLOCAL | CREAD;
        tio.c_iflag &= ~(IXON | IXOFF | IXANY);
        tio.c_cc[VMIN] = 0;
        tio.c_cc[VTIME] = 0;
        ::cfsetispeed(&tio, speed);
        ::cfsetospeed(&tio, speed);
        if (::tcsetattr(fd.Get(), TCSANOW, &tio) == 0) {
            // DTR and RTS on while the port is open. Pseudo-terminals have no modem lines and
            // refuse this, which is of no consequence.
            const int lines = TIOCM_DTR | TIOCM_RTS;
            ::ioctl(fd.Get(), TIOCMBIS, &lines);
        } else {
            KeepSystemError();  // the port stays open and is written with the settings it has
        }
    }
    // A device that is not a terminal keeps no line settings; it is written as it is.
    m_fd = std::move(fd);
    return kMessengerOk;
}

int ComMessenger::Close() {
    if (m_fd.Valid()) {
        ::ioctl(m_fd.Get(), TIOCNXCL);
        m_fd.Reset();
    }
    return kMessengerOk;
}

int ComMessenger::Read(void* buffer, int length) {
    if (!m_fd.Valid() || length < 0 || (buffer == nullptr && length > 0)) {
        return kMessengerFailed;
    }
    // Let what was written go out first, as long as a write may take.
    for (int waited = 0; waited < kWriteTimeoutMs; waited += 10) {
        int queued = 0;
        if (::ioctl(m_fd.Get(), TIOCOUTQ, &queued) != 0 || queued == 0) {
            break;
        }
        SleepMs(10);
    }
    // Take only what has arrived, in at most 16 looks 100 ms apart.
    char* into = static_cast<char*>(buffer);
    int received = TakeKept(into, length);
    for (int attempt = 0; attempt < 16; ++attempt) {
        SleepMs(100);
        while (received < length) {
            const ssize_t got = ::read(m_fd.Get(), into + received, static_cast<size_t>(length - received));
            if (got > 0) {
                received += static_cast<int>(got);
                continue;
            }
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
                KeepSystemError();
                Keep(into, received);
                return kMessengerFailed;
            }
            break;  // nothing more waiting for now (or end of input)
        }
        if (received == length) {
            return kMessengerOk;
        }
    }
    Keep(into, received);
    KeepError(ETIMEDOUT, "read timed out: " + std::to_string(received) + " of " + std::to_string(length) +
                             " bytes arrived");
    return kMessengerFailed;
}

int LptMessenger::OpenPort(int portNumber) {
    if (portNumber >= 0 && portNumber <= 2) {
        OpenDevice("/dev/lp" + std::to_string(portNumber));
    } else {
        Close();
        KeepError(ENODEV, "no parallel port number " + std::to_string(portNumber));
    }
    return kMessengerOk;
}

int LptMessenger::OpenDevice(const std::string& device) {
    // The lp driver itself lets one opener in at a time; the lock covers other devices too. The
    // device open before goes first, so that reopening the same one is not refused as busy.
    Close();
    std::string unfit;
    m_fd.Reset(OpenExclusive(device, O_WRONLY, unfit));
    if (m_fd.Valid()) {
        KeepError(0, "");
    } else if (unfit.empty()) {
        KeepSystemError();
    } else {
        KeepError(EINVAL, unfit);
    }
    return kMessengerOk;
}

int LptMessenger::Close() {
    m_fd.Reset();
    return kMessengerOk;
}
