// A request to stop a long run (an apply, a scan), made from another thread: a signal, a button.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

/// The runs look at it between their steps and end early once it is made; what they did until
/// then stands. Safe to use from several threads.
class StopRequest {
  public:
    StopRequest() = default;
    StopRequest(const StopRequest&) = delete;
    StopRequest& operator=(const StopRequest&) = delete;

    /// Asks the run to stop for `reason` (not 0; Interrupts gives the signal's number). Only the
    /// first request counts: true for it, false when one had come before.
    bool Request(int reason);

    /// 0 until a request came, then its reason.
    int Reason() const { return m_nReason.load(); }
    bool Requested() const { return Reason() != 0; }

    /// Waits for `wait`, or less when a request comes or Wake is called; false when a request
    /// has come.
    bool Sleep(std::chrono::milliseconds wait);

    /// Ends the Sleep under way, or else the next one, at once without asking the run to stop:
    /// there is news to look at (a server's files to read again).
    void Wake();

  private:
    std::atomic<int> m_nReason{0};
    std::mutex m_mutex;
    std::condition_variable m_woken;
    bool m_wake = false;  // under m_mutex
};
