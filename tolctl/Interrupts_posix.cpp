// The stop requests on POSIX: SIGINT, SIGTERM and SIGHUP are blocked in every thread of the run
// and taken by one thread that waits for them, so that no system call elsewhere is cut short
// and a request can do more than an async-signal-safe handler could.
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <cerrno>
#include <system_error>
#include <thread>

#include "tolctl/Interrupts.h"

namespace {

sigset_t StopSet() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    return set;
}

}  // namespace

struct Interrupts::Platform {
    sigset_t oldMask;
    struct sigaction oldPipe {};
    std::atomic<bool> stop{false};
    std::thread waiter;
};

Interrupts::Interrupts() : m_platform(new Platform) {
    Platform& p = *m_platform;
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    ::sigaction(SIGPIPE, &ignore, &p.oldPipe);
    const sigset_t set = StopSet();
    ::pthread_sigmask(SIG_BLOCK, &set, &p.oldMask);
    try {
        p.waiter = std::thread([this] {
            const sigset_t wanted = StopSet();
            // Looks at `stop` this often; a signal ends the wait at once.
            const timespec recheck{0, 100 * 1000 * 1000};
            while (!m_platform->stop.load()) {
                const int signal = ::sigtimedwait(&wanted, nullptr, &recheck);
                if (signal > 0 && !m_platform->stop.load()) {
                    Request(signal);
                }
            }
        });
    } catch (const std::system_error&) {
        // No thread to take them: the signals keep their usual effect.
        ::pthread_sigmask(SIG_SETMASK, &p.oldMask, nullptr);
    }
}

Interrupts::~Interrupts() {
    Platform& p = *m_platform;
    if (p.waiter.joinable()) {
        p.stop = true;
        // Woken at once by a signal it waits for, which it takes for no request now: a run does
        // not end up to one look later.
        ::pthread_kill(p.waiter.native_handle(), SIGHUP);
        p.waiter.join();
        // One that came after the waiter's last look is taken here, not by the old action.
        const sigset_t set = StopSet();
        const timespec now{0, 0};
        for (int signal; (signal = ::sigtimedwait(&set, nullptr, &now)) > 0 || errno == EINTR;) {
            if (signal > 0) {
                m_stop.Request(signal);  // noted when it is the first; never the end of the process
            }
        }
        ::pthread_sigmask(SIG_SETMASK, &p.oldMask, nullptr);
    }
    ::sigaction(SIGPIPE, &p.oldPipe, nullptr);
}
