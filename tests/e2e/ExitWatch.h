// Stops a running program at the moment it begins to end, as a debugger would, so that a test can
// look at what the program still holds before the system lets go of everything for it.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <thread>

class ExitWatch {
  public:
    /// Attaches to the process from a thread of its own and sets a breakpoint on its
    /// RtlExitUserProcess, where ExitProcess ends up. `atExit` runs on that thread while the
    /// program is stopped there; the program then goes on to end.
    ExitWatch(DWORD processId, std::function<void()> atExit);
    /// Waits for the watch thread; a program that never got to its exit is let go.
    ~ExitWatch();

    ExitWatch(const ExitWatch&) = delete;
    ExitWatch& operator=(const ExitWatch&) = delete;

    /// True once the breakpoint is set (false on failure or after timeoutMs); see Failure().
    bool Ready(int timeoutMs);
    /// True once the program has stopped at its exit, `atExit` has run and the program has
    /// ended; false when it ended some other way (a crash) or not within timeoutMs.
    bool Finished(int timeoutMs);
    /// What went wrong, for the test's message (once Ready or Finished has answered false).
    std::string Failure() const;

  private:
    void Run();

    DWORD m_dwProcessId;
    std::function<void()> m_atExit;
    HANDLE m_hReady;        // set once the breakpoint is in place, or when attaching failed
    HANDLE m_hFinished;     // set when the watch thread is done
    HANDLE m_hStop;         // asks the watch thread to give up
    bool m_bReady = false;  // written before m_hReady is set, never after
    bool m_bStoppedAtExit = false;
    DWORD m_dwExitCode = STILL_ACTIVE;
    std::string m_strFailure;
    std::thread m_thread;
};
