// A USB printer interface that Wine's SetupAPI enumerates, made of registry entries only; the
// device behind its path is whatever the bench links there (a pty, a stalled FIFO, nothing).
#pragma once

#include <string>

class FakeUsbPrinter {
  public:
    /// Creates the registry entries of serial number `serial` (upper case, e.g. "FAKE0001").
    /// Interfaces enumerate in the alphabetical order of their serial numbers.
    explicit FakeUsbPrinter(const std::string& serial, bool withLocation = true);
    /// Deletes them again.
    ~FakeUsbPrinter();

    FakeUsbPrinter(const FakeUsbPrinter&) = delete;
    FakeUsbPrinter& operator=(const FakeUsbPrinter&) = delete;

    /// Replaces the location information that the device reports.
    bool SetLocation(const std::wstring& location);

    /// All registry entries were written.
    bool Created() const { return m_bCreated; }
    /// The interface's device path, "\\?\usb#vid_...#{28d78fad-...}".
    std::wstring DevicePath() const;
    /// The DOS device name under which the bench links the device ("usb#vid_...").
    std::string DosName() const;

    /// Deletes the entries of every fake printer, also those a crashed run left behind.
    static void RemoveAll();

  private:
    std::string m_strSerial;
    bool m_bCreated = false;
};
