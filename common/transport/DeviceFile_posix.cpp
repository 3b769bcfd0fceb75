// Device names on POSIX: paths, looked at with stat; a device told by its number.
#include "transport/DeviceFile.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cerrno>

#include "system/ErrnoText.h"
#include "values/Values.h"

namespace {

// What a file of `mode` is, when it is nothing a port may open; empty for a character device or
// a FIFO.
const char* Unfit(mode_t mode) {
    return S_ISCHR(mode) || S_ISFIFO(mode) ? ""
           : S_ISREG(mode)                 ? "a regular file"
           : S_ISDIR(mode)                 ? "a folder"
           : S_ISBLK(mode)                 ? "a block device"
           : S_ISSOCK(mode)                ? "a socket"
                                           : "no device";
}

std::string Refusal(const std::string& device, const std::string& what) {
    return ShownText(device, std::string::npos) + " is " + what +
           ", not a device: a port opens only a character device or a FIFO";
}

}  // namespace

std::string NotADevice(const std::string& device) {
    struct stat info {};
    if (::stat(device.c_str(), &info) != 0) {
        return "";  // nothing there (or not to be looked at): the open says why
    }
    const std::string what = Unfit(info.st_mode);
    return what.empty() ? "" : Refusal(device, what);
}

std::string NotADevice(int opened, const std::string& device) {
    struct stat info {};
    if (::fstat(opened, &info) != 0) {
        return Refusal(device, "not to be looked at (" + ErrnoText(errno) + ")");
    }
    const std::string what = Unfit(info.st_mode);
    return what.empty() ? "" : Refusal(device, what);
}

std::string DeviceIdentity(const std::string& device) {
    struct stat info {};
    if (::stat(device.c_str(), &info) == 0) {
        // A device by its number, whatever node or link leads to it; anything else by its file.
        return S_ISCHR(info.st_mode)
                   ? "char " + std::to_string(major(info.st_rdev)) + ":" + std::to_string(minor(info.st_rdev))
                   : "file " + std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino);
    }
    // Nothing there now: the path without empty and "." steps (".." stays: it depends on links).
    std::string path = device[0] == '/' ? "/" : "";
    size_t start = 0;
    while (start <= device.size()) {
        size_t end = device.find('/', start);
        if (end == std::string::npos) {
            end = device.size();
        }
        const std::string step = device.substr(start, end - start);
        if (!step.empty() && step != ".") {
            path += (path.empty() || path.back() == '/' ? "" : "/") + step;
        }
        start = end + 1;
    }
    return path.empty() ? device : path;
}
