// The USB printer on Windows: the present interfaces of the USB printing class, found through
// SetupAPI and opened in enumeration order; the last one that opens is written to.
#include "transport/UsbMessenger.h"

#include <cstddef>
#include <cwchar>
#include <memory>
#include <new>

#include "system/WideText.h"

const GUID kUsbPrintInterface = {0x28d78fad,
                                 0x5a12,
                                 0x11d1,
                                 {0xae, 0x5b, 0x00, 0x00, 0xf8, 0x03, 0xa8, 0xc2}};

namespace {

// The buffer size handed to the two property reads.
constexpr DWORD kPropertyBytes = 2048;

// Holds a critical section for one scope.
class Locked {
  public:
    explicit Locked(CRITICAL_SECTION& section) : m_section(section) { EnterCriticalSection(&m_section); }
    ~Locked() { LeaveCriticalSection(&m_section); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;

  private:
    CRITICAL_SECTION& m_section;
};

enum class DetailRead { Read, Skipped, Failed };

// The device path of one interface of `set` into `path` (room for `capacity` characters) and
// its device's record into `device`; `needed` gets the size of the interface's detail. Skipped:
// an interface whose detail no device path of that room can hold (the search passes it by);
// Failed: the system refused the detail (GetLastError tells why).
DetailRead ReadInterfaceDetail(HDEVINFO set,
                               SP_DEVICE_INTERFACE_DATA& interfaceData,
                               SP_DEVINFO_DATA& device,
                               DWORD& needed,
                               wchar_t* path,
                               size_t capacity) {
    constexpr DWORD kFixedDetailSize = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath);
    // First learn the size of the interface's detail (this call "fails" by design, with
    // ERROR_INSUFFICIENT_BUFFER: https://learn.microsoft.com/windows/win32/api/setupapi/
    // nf-setupapi-setupdigetdeviceinterfacedetailw).
    needed = 0;
    SetupDiGetDeviceInterfaceDetailW(set, &interfaceData, nullptr, 0, &needed, nullptr);
    if (needed < kFixedDetailSize + sizeof(wchar_t)) {
        return DetailRead::Skipped;
    }
    // DWORD elements keep the record aligned as SP_DEVICE_INTERFACE_DETAIL_DATA_W wants.
    const size_t words = (needed + sizeof(DWORD) - 1) / sizeof(DWORD);
    std::unique_ptr<DWORD[]> block(new (std::nothrow) DWORD[words]());
    if (!block) {
        return DetailRead::Skipped;
    }
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(block.get());
    // cbSize is the size of the fixed record, not of the block.
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    device.cbSize = sizeof(device);
    if (!SetupDiGetDeviceInterfaceDetailW(set, &interfaceData, detail, needed, nullptr, &device)) {
        return DetailRead::Failed;
    }
    const size_t pathCapacity = (needed - kFixedDetailSize) / sizeof(wchar_t);
    const size_t pathLength = wcsnlen(detail->DevicePath, pathCapacity);
    if (pathLength >= capacity) {
        return DetailRead::Skipped;  // longer than any real device path
    }
    wmemcpy(path, detail->DevicePath, pathLength);
    path[pathLength] = L'\0';
    return DetailRead::Read;
}

}  // namespace

std::vector<UsbPrinterInfo> FindUsbPrinters() {
    std::vector<UsbPrinterInfo> printers;
    GUID interfaceClass = kUsbPrintInterface;
    const UniqueDevInfo set(
        SetupDiGetClassDevsW(&interfaceClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
    for (DWORD index = 0; set.Valid(); ++index) {
        SP_DEVICE_INTERFACE_DATA interfaceData{};
        interfaceData.cbSize = sizeof(interfaceData);
        if (!SetupDiEnumDeviceInterfaces(set.Get(), nullptr, &interfaceClass, index, &interfaceData)) {
            break;
        }
        SP_DEVINFO_DATA device{};
        DWORD needed = 0;
        std::unique_ptr<wchar_t[]> path(new (std::nothrow) wchar_t[2048]);
        if (!path || ReadInterfaceDetail(set.Get(), interfaceData, device, needed, path.get(), 2048) !=
                         DetailRead::Read) {
            continue;
        }
        wchar_t location[1024] = {};
        if (!SetupDiGetDeviceRegistryPropertyW(set.Get(), &device, SPDRP_LOCATION_INFORMATION, nullptr,
                                               reinterpret_cast<BYTE*>(location),
                                               sizeof(location) - sizeof(wchar_t), nullptr)) {
            location[0] = L'\0';
        }
        printers.push_back({WideToUtf8(path.get()), WideToUtf8(location)});
    }
    return printers;
}

UsbMessenger::UsbMessenger()
    : m_dwMemberIndex(0),
      m_devInfoData(),
      m_interfaceData(),
      m_dwNeeded(0),
      m_interfaceClass(kUsbPrintInterface),
      m_szDevicePath(),
      m_szLocation(),
      m_driverKey(),
      m_bOpenFailed(false) {
    InitializeCriticalSection(&m_lock);
    UsbMessenger::Open();
}

UsbMessenger::UsbMessenger(const std::string&) : UsbMessenger() {}

UsbMessenger::~UsbMessenger() {
    UsbMessenger::Close();
    DeleteCriticalSection(&m_lock);
}

int UsbMessenger::Open() {
    Locked lock(m_lock);
    if (m_hPort.Valid()) {
        return kMessengerOk;  // a printer is open already (a second arrival changes nothing)
    }

    m_interfaceClass = kUsbPrintInterface;
    // A set still held from an Open whose CreateFileW failed is replaced by this one (or by -1).
    m_hDevInfo.Reset();
    m_hDevInfo.Reset(
        SetupDiGetClassDevsW(&m_interfaceClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
    if (!m_hDevInfo.Valid()) {
        KeepSystemError();
        m_bOpenFailed = true;
        return kMessengerFailed;
    }
    m_bOpenFailed = false;
    KeepError(0, "");

    const auto fail = [this]() {
        KeepSystemError();
        m_hDevInfo.Reset();
        m_bOpenFailed = true;
        return kMessengerFailed;
    };

    for (m_dwMemberIndex = 0;; ++m_dwMemberIndex) {
        m_interfaceData.cbSize = sizeof(m_interfaceData);
        if (!SetupDiEnumDeviceInterfaces(m_hDevInfo.Get(), nullptr, &m_interfaceClass, m_dwMemberIndex,
                                         &m_interfaceData)) {
            return kMessengerOk;  // the end of the list, whether or not a printer opened
        }

        const DetailRead read =
            ReadInterfaceDetail(m_hDevInfo.Get(), m_interfaceData, m_devInfoData, m_dwNeeded, m_szDevicePath,
                                sizeof(m_szDevicePath) / sizeof(m_szDevicePath[0]));
        if (read == DetailRead::Skipped) {
            continue;
        }
        if (read == DetailRead::Failed) {
            return fail();
        }

        // A device that cannot tell its driver key or its location makes the whole search fail.
        m_driverKey[0] = 0;
        if (!SetupDiGetDeviceRegistryPropertyW(m_hDevInfo.Get(), &m_devInfoData, SPDRP_DRIVER, nullptr,
                                               m_driverKey, kPropertyBytes, nullptr)) {
            return fail();
        }
        // The location field has room for 2048 wide characters, but the read is given 2048
        // bytes: a location of more than 1023 characters makes the search fail.
        m_szLocation[0] = L'\0';
        if (!SetupDiGetDeviceRegistryPropertyW(m_hDevInfo.Get(), &m_devInfoData, SPDRP_LOCATION_INFORMATION,
                                               nullptr, reinterpret_cast<BYTE*>(m_szLocation), kPropertyBytes,
                                               nullptr)) {
            return fail();
        }

        const HANDLE device = CreateFileW(m_szDevicePath, GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                          OPEN_ALWAYS, FILE_FLAG_OVERLAPPED, nullptr);
        const DWORD openError = GetLastError();
        // The last interface wins: the one opened before it is let go.
        m_hPort.Reset(device);
        if (!m_hPort.Valid()) {
            KeepError(static_cast<int>(openError));
            m_bOpenFailed = true;
            return kMessengerFailed;  // the set stays held until the next Open or Close
        }
    }
}

int UsbMessenger::Close() {
    Locked lock(m_lock);
    m_hPort.Reset();
    m_hDevInfo.Reset();
    return kMessengerOk;
}

int UsbMessenger::Write(const void* data, int length) {
    Locked lock(m_lock);
    if (!m_hPort.Valid() || !m_hDevInfo.Valid()) {
        // Keeps the reason a failed search gave; otherwise there simply is no printer.
        if (!m_bOpenFailed) {
            KeepError(ERROR_DEVICE_NOT_CONNECTED, "no USB printer connected");
        }
        return kMessengerFailed;
    }
    // The lock is held over the whole wait, so Open and Close cannot run inside a write.
    return Messenger::Write(data, length);
}
