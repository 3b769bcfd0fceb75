// Device names on Windows: DOS device names ("COM3", "LPT4:") and paths, a path's kind seen on a
// handle that asks for no access.
#include "transport/DeviceFile.h"

#include "system/WideText.h"
#include "values/Values.h"

namespace {

// A DOS device's name without a path: no slash or backslash, a colon at most at its end. Such a
// name leads into the system's devices ("\\.\NAME"), never to a file of a folder.
bool PlainName(const std::string& device) {
    const size_t colon = device.find(':');
    return device.find_first_of("\\/") == std::string::npos &&
           (colon == std::string::npos || colon + 1 == device.size());
}

// What an open handle leads to, when it is nothing a port may open; empty for a character device
// or a pipe.
const char* Unfit(HANDLE handle) {
    switch (GetFileType(handle)) {
        case FILE_TYPE_CHAR:
        case FILE_TYPE_PIPE:
            return "";
        case FILE_TYPE_DISK: {
            BY_HANDLE_FILE_INFORMATION info{};
            return GetFileInformationByHandle(handle, &info) != 0 &&
                           (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0
                       ? "a folder"
                       : "a file or a disk";
        }
        default:
            return "no device";
    }
}

std::string Refusal(const std::string& device, const std::string& what) {
    return ShownText(device, std::string::npos) + " is " + what +
           ", not a device: a port opens only a character device or a pipe";
}

}  // namespace

std::wstring DevicePath(const std::string& device) {
    WideString wide;
    Utf8ToWide(device, wide);
    const auto separator = [](wchar_t c) { return c == L'\\' || c == L'/'; };
    if (wide.empty() || wide.back() == L':' ||
        (wide.size() >= 2 && separator(wide[0]) && separator(wide[1]))) {
        return wide;
    }
    return L"\\\\.\\" + wide;
}

std::string NotADevice(const std::string& device) {
    if (PlainName(device)) {
        return "";
    }
    // No access asked for: the kind is seen without reading or writing anything.
    // FILE_FLAG_BACKUP_SEMANTICS lets a folder be opened too.
    const UniqueKernelHandle opened(CreateFileW(DevicePath(device).c_str(), 0,
                                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!opened.Valid()) {
        return "";  // nothing there, or busy: the open says why
    }
    return NotADevice(opened.Get(), device);
}

std::string NotADevice(HANDLE opened, const std::string& device) {
    if (PlainName(device)) {
        return "";
    }
    const std::string what = Unfit(opened);
    return what.empty() ? "" : Refusal(device, what);
}

std::string DeviceIdentity(const std::string& device) {
    std::string name = device;
    for (char& c : name) {
        c = c == '/' ? '\\' : c;
    }
    if (name.compare(0, 4, "\\\\.\\") == 0 || name.compare(0, 4, "\\\\?\\") == 0) {
        if (PlainName(name.substr(4))) {
            name.erase(0, 4);
        }
    }
    if (PlainName(name)) {
        if (!name.empty() && name.back() == ':') {
            name.pop_back();
        }
        return UpperCase(name);
    }
    // A path: in its full form, ".", ".." and doubled separators resolved, as the system reads it.
    const std::wstring path = DevicePath(device);
    wchar_t full[1024] = {};
    const DWORD length = GetFullPathNameW(path.c_str(), 1024, full, nullptr);
    return UpperCase(length > 0 && length < 1024 ? WideToUtf8(full) : WideToUtf8(path));
}
