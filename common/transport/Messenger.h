// The port through which one command reaches the printer.
#pragma once

#include <string>

#ifdef _WIN32
#include "system/WinHandles.h"
#else
#include "system/UniqueHandle.h"
#endif

/// Results of Open, Close, Write and Read.
enum MessengerResult {
    kMessengerOk = 0,
    kMessengerFailed = -1,   // not open, not supported by this transport, or refused by the system
    kMessengerTimeout = 258  // Write only: not completed within 2500 ms, cancelled
};

/// Milliseconds a write may take before it is cancelled.
constexpr int kWriteTimeoutMs = 2500;

/// Base class of the transports. A messenger whose port failed to open is still a complete
/// object; the failure shows in the next Write (-1), and LastErrorText() says why.
class Messenger {
  public:
    Messenger();
    virtual ~Messenger();

    Messenger(const Messenger&) = delete;
    Messenger& operator=(const Messenger&) = delete;

    virtual int Open();   // base: -1
    virtual int Close();  // base: -1
    /// Writes length bytes: 0 done, -1 failed (or not open), 258 timed out and cancelled.
    virtual int Write(const void* data, int length);
    virtual int Read(void* buffer, int length);  // base: -1

    /// The system's error code of the last failure (0 when none), and its text
    /// ("connection refused", "no such device", ...), captured when it happened.
    int LastError() const { return m_nLastError; }
    const std::string& LastErrorText() const { return m_strLastError; }

#ifdef _WIN32
    /// Writes whose completion had still not come when their messenger was deleted; their
    /// records are freed when the completion finally runs.
    static int AbandonedWrites();
#endif

  protected:
    /// Records the calling thread's last system error (GetLastError / errno) with its text.
    void KeepSystemError();
    /// Records an error code of the system's kind with its text.
    void KeepError(int code);
    void KeepError(int code, const std::string& text);

#ifdef _WIN32
    /// Cancels this thread's pending I/O on the port (CancelIo); a device whose driver ignores
    /// cancellation is what tests stand in for by overriding it.
    virtual void CancelPendingIo();

    UniqueKernelHandle m_hPort;   // INVALID_HANDLE_VALUE while no device is open
    UniqueKernelHandle m_hEvent;  // manual-reset, unnamed; the read record's event
    OVERLAPPED m_rOverlapped;
#else
    UniqueFd m_fd;  // -1 while no device is open
#endif

  private:
#ifdef _WIN32
    struct WriteRecord;
    /// Completion routine of WriteFileEx; the write record's hEvent carries the record.
    static void CALLBACK WriteCompleted(DWORD error, DWORD transferred, OVERLAPPED* overlapped);
    /// Waits alertably until the pending write's completion routine has run, at most timeoutMs.
    bool AwaitWriteCompletion(DWORD timeoutMs);

    // The write in flight lives apart from the messenger: if its completion has still not come
    // when the messenger goes, the record stays behind for the system to complete into.
    WriteRecord* m_pWrite;
#endif
    int m_nLastError = 0;
    std::string m_strLastError;
};
