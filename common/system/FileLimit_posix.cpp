#include <dirent.h>
#include <sys/resource.h>

#include <cerrno>

#include "system/FileLimit.h"

size_t RaiseOpenFileLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) {
        return 0;
    }
    if (limit.rlim_cur < limit.rlim_max) {
        const rlim_t wanted = limit.rlim_max == RLIM_INFINITY ? 65536 : limit.rlim_max;
        rlimit raised{wanted, limit.rlim_max};
        if (::setrlimit(RLIMIT_NOFILE, &raised) == 0) {
            limit = raised;
        }
    }
    return limit.rlim_cur == RLIM_INFINITY ? 0 : static_cast<size_t>(limit.rlim_cur);
}

size_t OpenDescriptorCount() {
    DIR* dir = ::opendir("/proc/self/fd");
    if (dir == nullptr) {
        return 0;
    }
    size_t count = 0;
    while (const dirent* entry = ::readdir(dir)) {
        count += entry->d_name[0] != '.' ? 1 : 0;
    }
    ::closedir(dir);
    return count - 1;  // the listing's own
}

bool OutOfDescriptors(int systemError) {
    return systemError == EMFILE || systemError == ENFILE;
}
