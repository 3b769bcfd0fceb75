#include "tests/wine/FakeUsbPrinter.h"

#include <windows.h>

#include <cwctype>
#include <vector>

namespace {

// A vendor and product id that no real printer in the prefix has.
const wchar_t kHardwareId[] = L"VID_7E57&PID_0001";
const wchar_t kInterfaceClass[] = L"{28d78fad-5a12-11d1-ae5b-0000f803a8c2}";
const wchar_t kPrinterClass[] = L"{36fc9e60-c465-11cf-8056-444553540000}";
const wchar_t kEnumUsb[] = L"System\\CurrentControlSet\\Enum\\USB\\";
const wchar_t kDeviceClasses[] = L"System\\CurrentControlSet\\Control\\DeviceClasses\\";

std::wstring Wide(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

std::wstring Lower(std::wstring text) {
    for (wchar_t& c : text) {
        c = static_cast<wchar_t>(std::towlower(c));
    }
    return text;
}

std::wstring EnumKey(const std::wstring& serial) {
    return std::wstring(kEnumUsb) + kHardwareId + L"\\" + serial;
}

std::wstring InterfaceKey(const std::wstring& serial) {
    return std::wstring(kDeviceClasses) + kInterfaceClass + L"\\##?#USB#" + kHardwareId + L"#" + serial +
           L"#" + kInterfaceClass;
}

bool SetString(HKEY key, const wchar_t* name, const std::wstring& value) {
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

// Creates (or opens) a key under HKLM, sets its values through `fill`, and closes it.
template <typename Fill>
bool WriteKey(const std::wstring& path, Fill fill) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr) != ERROR_SUCCESS) {
        return false;
    }
    const bool ok = fill(key);
    RegCloseKey(key);
    return ok;
}

void DeleteTree(const std::wstring& path) {
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, path.c_str());
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, path.c_str());
}

}  // namespace

FakeUsbPrinter::FakeUsbPrinter(const std::string& serial, bool withLocation) : m_strSerial(serial) {
    const std::wstring wserial = Wide(serial);
    const bool device = WriteKey(EnumKey(wserial), [&](HKEY key) {
        return SetString(key, L"ClassGUID", kPrinterClass) &&
               SetString(key, L"Driver", std::wstring(kPrinterClass) + L"\\0042") &&
               (!withLocation || SetString(key, L"LocationInformation", L"Port_#0001.Hub_#0002"));
    });
    const bool instance = WriteKey(InterfaceKey(wserial), [&](HKEY key) {
        return SetString(key, L"DeviceInstance", std::wstring(L"USB\\") + kHardwareId + L"\\" + wserial);
    });
    const bool link = WriteKey(InterfaceKey(wserial) + L"\\#",
                               [&](HKEY key) { return SetString(key, L"SymbolicLink", DevicePath()); });
    // Only linked interfaces count as present.
    const bool linked = WriteKey(InterfaceKey(wserial) + L"\\#\\Control", [](HKEY key) {
        const DWORD one = 1;
        return RegSetValueExW(key, L"Linked", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one),
                              sizeof(one)) == ERROR_SUCCESS;
    });
    m_bCreated = device && instance && link && linked;
}

FakeUsbPrinter::~FakeUsbPrinter() {
    const std::wstring wserial = Wide(m_strSerial);
    DeleteTree(InterfaceKey(wserial));
    DeleteTree(EnumKey(wserial));
    // The hardware id's key goes once its last instance has.
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, (std::wstring(kEnumUsb) + kHardwareId).c_str());
}

bool FakeUsbPrinter::SetLocation(const std::wstring& location) {
    return WriteKey(EnumKey(Wide(m_strSerial)),
                    [&](HKEY key) { return SetString(key, L"LocationInformation", location); });
}

std::wstring FakeUsbPrinter::DevicePath() const {
    return L"\\\\?\\" + Lower(std::wstring(L"usb#") + kHardwareId + L"#" + Wide(m_strSerial) + L"#") +
           kInterfaceClass;
}

std::string FakeUsbPrinter::DosName() const {
    const std::wstring path = DevicePath().substr(4);
    return std::string(path.begin(), path.end());
}

void FakeUsbPrinter::RemoveAll() {
    DeleteTree(std::wstring(kEnumUsb) + kHardwareId);
    const std::wstring classes = std::wstring(kDeviceClasses) + kInterfaceClass;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, classes.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return;
    }
    std::vector<std::wstring> ours;
    wchar_t name[256];
    for (DWORD index = 0;; ++index) {
        DWORD length = 256;
        if (RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
            break;
        }
        if (std::wstring(name).find(kHardwareId) != std::wstring::npos) {
            ours.push_back(name);
        }
    }
    RegCloseKey(key);
    for (const std::wstring& sub : ours) {
        DeleteTree(classes + L"\\" + sub);
    }
    // The class's key goes too once no interface is left in it (RegDeleteKey keeps a key that
    // still has subkeys).
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, classes.c_str());
}
