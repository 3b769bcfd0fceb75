// The USB printer: one messenger per process, kept open across actions.
#pragma once

#include <string>
#include <vector>

#include "transport/Messenger.h"

#ifndef _WIN32
#include <mutex>
#endif

#ifdef _WIN32
/// GUID_DEVINTERFACE_USBPRINT, the interface class that the USB printing class driver publishes.
/// Defined in the transport so that no header has to instantiate it with initguid.h.
extern const GUID kUsbPrintInterface;
#endif

/// Finds the present USB printer-class interfaces and opens them in enumeration order; the last
/// one that opens wins. Open, Close and Write hold the messenger's lock.
class UsbMessenger : public Messenger {
  public:
    UsbMessenger();
    /// POSIX only: a fixed device such as "/dev/usb/lp0" instead of the search.
    explicit UsbMessenger(const std::string& device);
    ~UsbMessenger() override;

    int Open() override;
    int Close() override;
    int Write(const void* data, int length) override;

  private:
#ifdef _WIN32
    UniqueDevInfo m_hDevInfo;  // INVALID_HANDLE_VALUE while no search result is held
    DWORD m_dwMemberIndex;
    SP_DEVINFO_DATA m_devInfoData;
    SP_DEVICE_INTERFACE_DATA m_interfaceData;
    DWORD m_dwNeeded;
    GUID m_interfaceClass;
    wchar_t m_szDevicePath[2048];
    wchar_t m_szLocation[2048];
    BYTE m_driverKey[2048];
    CRITICAL_SECTION m_lock;
    bool m_bOpenFailed;  // the last Open answered -1; its error stays the one reported
#else
    /// Keeps why an open failed: errno, or what `unfit` says (NotADevice).
    void KeepOpenError(const std::string& unfit);

    std::string m_strDevice;  // empty: search /dev/usb/lp* on every Open
    std::recursive_mutex m_lock;
#endif
};

/// A USB printer that the search finds.
struct UsbPrinterInfo {
    std::string path;      // POSIX: the device file; Windows: the interface's device path (UTF-8)
    std::string location;  // Windows: the location the device reports (may be empty); POSIX: empty
};

/// The USB printers the search finds, in the order it opens them (so the one a search keeps is
/// the last). Nothing is opened.
std::vector<UsbPrinterInfo> FindUsbPrinters();

/// The process-wide USB messenger (null until the first action on the USB port).
extern UsbMessenger* g_pUsbMessenger;
/// Creates the USB messenger on first use and answers it.
UsbMessenger* GetUsbMessenger();
/// Deletes the USB messenger, if any, and sets g_pUsbMessenger to null. Harmless twice.
void DestroyUsbMessenger();
