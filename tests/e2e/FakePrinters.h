// Printers for the end-to-end tests: a TCP printer on a loopback address, and the files in
// which the test script captures what reaches the fake serial, parallel and USB ports.
#pragma once

#include <winsock2.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

/// Listens on address:port and keeps the bytes of every connection once the peer has closed it.
class FakeNetworkPrinter {
  public:
    ~FakeNetworkPrinter();
    bool Start(const char* address, int port);
    /// The next connection's bytes; false when none ended within timeoutMs.
    bool NextConnection(std::string& bytes, int timeoutMs);
    /// Waits timeoutMs and answers how many connections arrived meanwhile (and drops them).
    int CountConnections(int timeoutMs);

  private:
    void Serve();

    SOCKET m_listener = INVALID_SOCKET;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    std::condition_variable m_arrived;
    std::deque<std::string> m_connections;
};

/// A file that a script fills with what reaches a port (read through Wine's Z: drive). Its name
/// must not begin with a DOS device name: "com1.capture" would open the port COM1 itself.
/// Taking the bytes clears the record of what has been read.
class CapturedPort {
  public:
    /// `variable`: environment variable with the Linux path of the capture file; empty if unset.
    explicit CapturedPort(const char* variable);
    bool Available() const { return !m_path.empty(); }
    /// Waits until at least `count` new bytes have arrived (or timeoutMs passed) and takes them.
    std::string Take(size_t count, int timeoutMs);

  private:
    std::wstring m_path;
    size_t m_read = 0;
};
