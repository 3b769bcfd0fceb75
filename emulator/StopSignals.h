// SIGINT and SIGTERM as a request to stop, seen by a poll loop instead of ending the process.
#pragma once

#include <poll.h>
#include <signal.h>

#include <chrono>

/// While it lives, SIGINT and SIGTERM set a flag instead of ending the process. They stay blocked
/// except inside Poll, so a signal cannot slip in between a look at Stopped() and the wait. Made
/// before the emulator says it listens, so that no Ctrl-C meets the default action.
class StopSignals {
  public:
    StopSignals();
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    /// ppoll over `fds` for at most `timeout` with the stop signals let through; ppoll's answer
    /// (-1 with EINTR when a signal came).
    int Poll(pollfd* fds, nfds_t count, std::chrono::nanoseconds timeout) const;

    /// True once SIGINT or SIGTERM came.
    bool Stopped() const;

  private:
    struct sigaction m_oldInt {};
    struct sigaction m_oldTerm {};
    sigset_t m_oldMask;
    sigset_t m_waitMask;
};
