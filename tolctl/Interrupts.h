// Ctrl-C and its kin during a long run: a request to stop that the run sees and obeys, instead of
// the end of the process.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "fleet/StopRequest.h"

/// While it lives, SIGINT, SIGTERM and SIGHUP (on Windows Ctrl-C and Ctrl-Break) ask the run to
/// stop instead of ending the process, and a reader that went away no longer ends it (SIGPIPE is
/// ignored: the write fails with EPIPE instead). A second request ends the process at once, with
/// 128 + its signal number, after removing the file named by RemoveOnQuit. Made on the thread
/// that starts the run's other threads, before it starts them (POSIX: they inherit the blocked
/// signals, which one thread of this class waits for).
class Interrupts {
  public:
    Interrupts();
    ~Interrupts();
    Interrupts(const Interrupts&) = delete;
    Interrupts& operator=(const Interrupts&) = delete;

    /// The request that the run obeys; its reason is the signal's number.
    StopRequest& Stop() { return m_stop; }

    /// 0 until a request came, then its signal number (SIGINT for Ctrl-C and Ctrl-Break).
    int Signal() const { return m_stop.Reason(); }

    /// The exit code of a run that was asked to stop: 128 + the signal number.
    static int ExitCode(int signal) { return 128 + signal; }

    /// The file that a second request removes before the process ends (empty: none).
    void RemoveOnQuit(const std::string& path);

    /// A request came for `signal`: the first is noted, a second ends the process.
    void Request(int signal);

  private:
    struct Platform;  // what the system needs: Interrupts_posix.cpp / Interrupts_win.cpp

    StopRequest m_stop;
    std::mutex m_mutex;  // the file to remove
    std::string m_removeOnQuit;
    std::unique_ptr<Platform> m_platform;
};
