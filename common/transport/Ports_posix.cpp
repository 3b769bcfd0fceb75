#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>

#include "transport/Ports.h"
#include "transport/UsbMessenger.h"

namespace {

std::string Folder(const char* variable, const char* standard) {
    const char* dir = std::getenv(variable);
    return dir != nullptr && *dir != '\0' ? dir : standard;
}

// The number after `prefix` in `name` ("ttyUSB3" -> 3), or -1 when the rest is not all digits.
long NumberAfter(const std::string& name, const std::string& prefix) {
    if (name.size() <= prefix.size() || name.size() > prefix.size() + 6 ||
        name.compare(0, prefix.size(), prefix) != 0) {
        return -1;
    }
    long number = 0;
    for (size_t i = prefix.size(); i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9') {
            return -1;
        }
        number = number * 10 + (name[i] - '0');
    }
    return number;
}

// The character devices PREFIXn of `dir`, in number order; a link that leads nowhere is no port.
std::vector<std::string> Devices(const std::string& dir, const std::string& prefix) {
    std::vector<std::pair<long, std::string>> found;
    DIR* listing = ::opendir(dir.c_str());
    while (listing != nullptr) {
        const dirent* entry = ::readdir(listing);
        if (entry == nullptr) {
            break;
        }
        const long number = NumberAfter(entry->d_name, prefix);
        struct stat info {};
        if (number >= 0 && ::stat((dir + "/" + entry->d_name).c_str(), &info) == 0 && S_ISCHR(info.st_mode)) {
            found.emplace_back(number, entry->d_name);
        }
    }
    if (listing != nullptr) {
        ::closedir(listing);
    }
    std::sort(found.begin(), found.end());
    std::vector<std::string> names;
    for (const auto& f : found) {
        names.push_back(dir + "/" + f.second);
    }
    return names;
}

// The kernel lists a ttyS for every place a legacy serial port might be; its type is 0
// (unknown) where no port was found.
bool RealSerialPort(const std::string& sys, const std::string& name) {
    std::ifstream type(sys + "/class/tty/" + name + "/type");
    int value = 0;
    return type >> value && value != 0;
}

}  // namespace

std::vector<LocalPort> FindLocalPorts() {
    std::vector<LocalPort> ports;
    for (const UsbPrinterInfo& printer : FindUsbPrinters()) {
        ports.push_back({"usb:" + printer.path, "USB printer"});
    }
    const std::string dev = Folder("TOL_DEV_DIR", "/dev");
    const std::string sys = Folder("TOL_SYS_DIR", "/sys");
    for (const std::string& path : Devices(dev, "lp")) {
        ports.push_back({"parallel:" + path, "parallel port"});
    }
    for (const std::string& path : Devices(dev, "ttyUSB")) {
        ports.push_back({"serial:" + path, "USB serial adapter"});
    }
    for (const std::string& path : Devices(dev, "ttyACM")) {
        ports.push_back({"serial:" + path, "USB serial device (modem class)"});
    }
    for (const std::string& path : Devices(dev, "ttyS")) {
        if (RealSerialPort(sys, path.substr(path.rfind('/') + 1))) {
            ports.push_back({"serial:" + path, "serial port"});
        }
    }
    return ports;
}
