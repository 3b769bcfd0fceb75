// The USB printer on POSIX: the usblp driver's /dev/usb/lp* devices.
#include "transport/UsbMessenger.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <vector>

#include "transport/DeviceFile.h"

namespace {

// Where the USB printer devices appear. The environment variable TOL_USB_DIR replaces it, so
// that tests can offer pseudo-terminals or FIFOs named lp0, lp1, ... as printers.
std::string SearchDirectory() {
    const char* dir = std::getenv("TOL_USB_DIR");
    return dir != nullptr && *dir != '\0' ? dir : "/dev/usb";
}

// The lp* names of `dir` in name order, lp2 before lp10. Empty when the folder is missing.
std::vector<std::string> PrinterNames(const std::string& dir) {
    std::vector<std::string> names;
    DIR* listing = ::opendir(dir.c_str());
    if (listing == nullptr) {
        return names;
    }
    while (const dirent* entry = ::readdir(listing)) {
        const std::string name = entry->d_name;
        if (name.size() > 2 && name.compare(0, 2, "lp") == 0) {
            names.push_back(name);
        }
    }
    ::closedir(listing);
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        return a.size() != b.size() ? a.size() < b.size() : a < b;
    });
    return names;
}

// Opens the printer at `path`: the descriptor, or -1 with errno set, or -1 with `unfit` saying
// why what opened is no device (closed again unwritten).
int OpenPrinter(const std::string& path, std::string& unfit) {
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    unfit = fd.Valid() ? NotADevice(fd.Get(), path) : "";
    return unfit.empty() ? fd.Release() : -1;
}

}  // namespace

std::vector<UsbPrinterInfo> FindUsbPrinters() {
    std::vector<UsbPrinterInfo> printers;
    const std::string dir = SearchDirectory();
    for (const std::string& name : PrinterNames(dir)) {
        printers.push_back({dir + "/" + name, ""});
    }
    return printers;
}

UsbMessenger::UsbMessenger() {
    Open();
}

UsbMessenger::UsbMessenger(const std::string& device) : m_strDevice(device) {
    Open();
}

UsbMessenger::~UsbMessenger() {
    Close();
}

int UsbMessenger::Open() {
    std::lock_guard<std::recursive_mutex> hold(m_lock);
    if (m_fd.Valid()) {
        return kMessengerOk;
    }
    std::string unfit;
    if (!m_strDevice.empty()) {
        m_fd.Reset(OpenPrinter(m_strDevice, unfit));
        if (!m_fd.Valid()) {
            KeepOpenError(unfit);
            return kMessengerFailed;
        }
        KeepError(0, "");
        return kMessengerOk;
    }

    // Every printer is opened in turn and the last one is kept, as the search on Windows does;
    // the earlier ones are closed as the next one takes their place. A printer that will not
    // open ends the search with no device, as on Windows.
    const std::string dir = SearchDirectory();
    for (const std::string& name : PrinterNames(dir)) {
        m_fd.Reset();
        m_fd.Reset(OpenPrinter(dir + "/" + name, unfit));
        if (!m_fd.Valid()) {
            KeepOpenError(unfit);  // busy, no permission, gone, no device ...
            return kMessengerFailed;
        }
    }
    if (m_fd.Valid()) {
        KeepError(0, "");
        return kMessengerOk;
    }
    KeepError(ENODEV, "no such device: no USB printer in " + dir);
    return kMessengerOk;  // the search ran to its end; the next Write answers -1
}

void UsbMessenger::KeepOpenError(const std::string& unfit) {
    if (unfit.empty()) {
        KeepSystemError();
    } else {
        KeepError(EINVAL, unfit);
    }
}

int UsbMessenger::Close() {
    std::lock_guard<std::recursive_mutex> hold(m_lock);
    if (m_fd.Valid()) {
        m_fd.Reset();
        KeepError(EBADF, "port closed");
    }
    return kMessengerOk;
}

int UsbMessenger::Write(const void* data, int length) {
    std::lock_guard<std::recursive_mutex> hold(m_lock);
    return Messenger::Write(data, length);
}
