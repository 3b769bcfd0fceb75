// The base messenger on POSIX: a non-blocking file descriptor written within kWriteTimeoutMs.
#include "transport/Messenger.h"

#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "system/ErrnoText.h"

namespace {

// Writing to a pipe or FIFO whose reader went away raises SIGPIPE, which would end the process.
// While a guard lives SIGPIPE is blocked in this thread; one that the write raised is taken back
// before the old mask returns (the usual recipe, since writes to a file descriptor have no
// MSG_NOSIGNAL).
class SigpipeGuard {
  public:
    SigpipeGuard() {
        sigset_t pending;
        sigemptyset(&pending);
        sigpending(&pending);
        m_bWasPending = sigismember(&pending, SIGPIPE) == 1;
        sigset_t block;
        sigemptyset(&block);
        sigaddset(&block, SIGPIPE);
        m_bBlocked = pthread_sigmask(SIG_BLOCK, &block, &m_oldMask) == 0;
    }
    ~SigpipeGuard() {
        if (!m_bBlocked) {
            return;
        }
        if (m_bRaised && !m_bWasPending) {
            sigset_t pipeOnly;
            sigemptyset(&pipeOnly);
            sigaddset(&pipeOnly, SIGPIPE);
            const timespec now{0, 0};
            while (sigtimedwait(&pipeOnly, nullptr, &now) == -1 && errno == EINTR) {
            }
        }
        pthread_sigmask(SIG_SETMASK, &m_oldMask, nullptr);
    }
    SigpipeGuard(const SigpipeGuard&) = delete;
    SigpipeGuard& operator=(const SigpipeGuard&) = delete;

    void NoteEpipe() { m_bRaised = true; }

  private:
    sigset_t m_oldMask;
    bool m_bBlocked = false;
    bool m_bWasPending = false;
    bool m_bRaised = false;
};

}  // namespace

Messenger::Messenger() = default;

// Each transport closes its own device in its destructor; the owner catches anything left.
Messenger::~Messenger() = default;

int Messenger::Write(const void* data, int length) {
    if (!m_fd.Valid()) {
        if (m_nLastError == 0) {
            KeepError(EBADF, "port not open");
        }
        return kMessengerFailed;
    }
    if (length < 0 || (data == nullptr && length > 0)) {
        KeepError(EINVAL);
        return kMessengerFailed;
    }

    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(kWriteTimeoutMs);
    const char* next = static_cast<const char*>(data);
    size_t left = static_cast<size_t>(length);
    SigpipeGuard guard;
    bool stalled = false;
    while (left > 0) {
        const ssize_t written = ::write(m_fd.Get(), next, left);
        if (written > 0) {
            next += written;
            left -= static_cast<size_t>(written);
            stalled = false;
            continue;
        }
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            if (errno == EPIPE) {
                guard.NoteEpipe();
            }
            KeepSystemError();
            return kMessengerFailed;
        }
        // The device takes no more for now: wait for room, but never past the deadline.
        const auto remaining =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (remaining <= 0) {
            // Drop what a terminal still holds of this write, as a cancelled write would.
            if (::isatty(m_fd.Get())) {
                ::tcflush(m_fd.Get(), TCOFLUSH);
            }
            KeepError(ETIMEDOUT, "write timed out: the device did not take all the bytes within " +
                                     std::to_string(kWriteTimeoutMs) + " ms");
            return kMessengerTimeout;
        }
        if (stalled) {
            // Some drivers (the parallel port's among them) have no poll and always look
            // writable; a short sleep keeps this loop from spinning on them.
            const timespec pause{0, 5 * 1000 * 1000};
            nanosleep(&pause, nullptr);
        }
        pollfd pfd{m_fd.Get(), POLLOUT, 0};
        const int ready = ::poll(&pfd, 1, static_cast<int>(remaining));
        if (ready < 0 && errno != EINTR) {
            KeepSystemError();
            return kMessengerFailed;
        }
        stalled = ready > 0;
    }
    return kMessengerOk;
}

void Messenger::KeepSystemError() {
    KeepError(errno);
}

void Messenger::KeepError(int code) {
    // "Connection refused" reads better inside a sentence as "connection refused".
    KeepError(code, ErrnoText(code));
}
