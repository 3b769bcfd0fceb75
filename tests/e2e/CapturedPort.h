// The files in which the end-to-end test script captures what reaches the fake serial, parallel
// and USB ports. (The network printer is the harness's FakePrinter, tests/support.)
#pragma once

#include <string>

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
