#include <windows.h>

#include <algorithm>
#include <cwctype>
#include <vector>

#include "system/WideText.h"
#include "transport/Ports.h"
#include "transport/UsbMessenger.h"

namespace {

// Ports that this looks for besides those the system lists: COM1-COM32 and LPT1-LPT9.
constexpr int kProbedCom = 32;
constexpr int kProbedLpt = 9;

// "COM7" -> 7 for `kind` "COM"; -1 for anything else.
int PortNumber(const std::wstring& name, const wchar_t* kind) {
    if (name.size() < 4 || name.size() > 6 || _wcsnicmp(name.c_str(), kind, 3) != 0) {
        return -1;
    }
    int number = 0;
    for (size_t i = 3; i < name.size(); ++i) {
        if (!std::iswdigit(name[i])) {
            return -1;
        }
        number = number * 10 + (name[i] - L'0');
    }
    return name[3] == L'0' ? -1 : number;
}

// Every DOS device name the system has ("COM1", "LPT1", "C:", ...).
std::vector<std::wstring> DosDeviceNames() {
    std::vector<wchar_t> buffer(16384);
    for (int i = 0; i < 8; ++i) {
        const DWORD length = QueryDosDeviceW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length != 0) {
            break;
        }
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
            return {};
        }
        buffer.assign(buffer.size() * 2, L'\0');
    }
    std::vector<std::wstring> names;
    for (const wchar_t* name = buffer.data(); *name != L'\0'; name += wcslen(name) + 1) {
        names.emplace_back(name);
    }
    return names;
}

// What the DOS device `name` stands for ("\Device\Serial0"), or "" when the system has no such
// name (Wine resolves its dosdevices links only when a device is opened).
std::wstring DosDeviceTarget(const std::wstring& name) {
    wchar_t target[1024] = {};
    return QueryDosDeviceW(name.c_str(), target, 1024) != 0 ? std::wstring(target) : std::wstring();
}

// A device that opens, or that some program holds, is there. Nothing is read or written: the
// handle asks for no access at all.
bool DeviceOpens(const std::wstring& name) {
    const std::wstring path = L"\\\\.\\" + name;
    const HANDLE device =
        CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (device != INVALID_HANDLE_VALUE) {
        CloseHandle(device);
        return true;
    }
    const DWORD error = GetLastError();
    return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION || error == ERROR_BUSY;
}

void AddPorts(const wchar_t* kind,
              int probed,
              int firstNamed,
              int lastNamed,
              const char* uriKind,
              const char* what,
              const std::vector<std::wstring>& listed,
              std::vector<LocalPort>& ports) {
    std::vector<int> numbers;
    for (const std::wstring& name : listed) {
        const int number = PortNumber(name, kind);
        if (number > 0) {
            numbers.push_back(number);
        }
    }
    for (int number = 1; number <= probed; ++number) {
        if (std::find(numbers.begin(), numbers.end(), number) == numbers.end() &&
            DeviceOpens(kind + std::to_wstring(number))) {
            numbers.push_back(number);
        }
    }
    std::sort(numbers.begin(), numbers.end());
    numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
    for (const int number : numbers) {
        const std::wstring name = kind + std::to_wstring(number);
        const std::string narrow = WideToUtf8(name);
        // The names the dialogs offer are --port names of their own; others go through the device.
        const std::string uri = number >= firstNamed && number <= lastNamed ? narrow : uriKind + narrow;
        const std::wstring target = DosDeviceTarget(name);
        ports.push_back({uri, std::string(what) + (target.empty() ? "" : " (" + WideToUtf8(target) + ")")});
    }
}

}  // namespace

std::vector<LocalPort> FindLocalPorts() {
    std::vector<LocalPort> ports;
    const std::vector<UsbPrinterInfo> usb = FindUsbPrinters();
    for (size_t i = 0; i < usb.size(); ++i) {
        std::string description = "USB printer " + usb[i].path;
        if (!usb[i].location.empty()) {
            description += " at " + usb[i].location;
        }
        if (usb.size() > 1) {
            // The search opens them in turn and keeps the last.
            description += i + 1 == usb.size() ? " (the one usb: and USB001 write to)"
                                               : " (not used: usb: writes to the last one)";
        }
        ports.push_back({"usb:", description});
    }
    const std::vector<std::wstring> listed = DosDeviceNames();
    AddPorts(L"LPT", kProbedLpt, 1, 3, "parallel:", "parallel port", listed, ports);
    AddPorts(L"COM", kProbedCom, 1, 2, "serial:", "serial port", listed, ports);
    return ports;
}
