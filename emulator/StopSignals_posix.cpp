#include "StopSignals.h"

#include <algorithm>

namespace {

volatile sig_atomic_t g_nStopSignal = 0;

void OnStopSignal(int signal) {
    g_nStopSignal = signal;
}

}  // namespace

StopSignals::StopSignals() {
    g_nStopSignal = 0;
    sigset_t block;
    sigemptyset(&block);
    sigaddset(&block, SIGINT);
    sigaddset(&block, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &block, &m_oldMask);
    m_waitMask = m_oldMask;
    sigdelset(&m_waitMask, SIGINT);
    sigdelset(&m_waitMask, SIGTERM);
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &m_oldInt);
    sigaction(SIGTERM, &action, &m_oldTerm);
}

StopSignals::~StopSignals() {
    // A signal still pending meets the handler when the mask opens, not the old action.
    pthread_sigmask(SIG_SETMASK, &m_oldMask, nullptr);
    sigaction(SIGINT, &m_oldInt, nullptr);
    sigaction(SIGTERM, &m_oldTerm, nullptr);
}

int StopSignals::Poll(pollfd* fds, nfds_t count, std::chrono::nanoseconds timeout) const {
    // In a program with more threads the signal may be handled by another one, and then this
    // ppoll is not interrupted: the caller looks at the flag again at least this often.
    const std::chrono::nanoseconds recheck = std::chrono::milliseconds(200);
    const auto wait = std::max(std::chrono::nanoseconds(0), std::min(timeout, recheck));
    const timespec limit{0, static_cast<long>(wait.count())};
    return ::ppoll(fds, count, &limit, &m_waitMask);
}

bool StopSignals::Stopped() const {
    return g_nStopSignal != 0;
}
