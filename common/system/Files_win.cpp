// Files on Windows: the replacement of a file in one step, and scratch files; names in UTF-8.
#include <windows.h>

#include <io.h>
#include <process.h>

#include <cerrno>
#include <cstdio>

#include "Files.h"
#include "WideText.h"

namespace {

// errno for the calling thread's last Windows error, for the few that a message names.
int ErrnoFromLastError() {
    switch (GetLastError()) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return ENOENT;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            return EACCES;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return ENOSPC;
        case ERROR_NOT_SAME_DEVICE:
            return EXDEV;
        default:
            return EIO;
    }
}

}  // namespace

std::string TemporaryPathFor(const std::string& path) {
    return path + ".tmp-" + std::to_string(_getpid());
}

std::FILE* OpenScratchFileBeside(const std::string& path) {
    // "D": removed when closed, also when the process ends in any way.
    return OpenFile(TemporaryPathFor(path) + "-spool", "w+bD");
}

bool PutFileInPlace(const std::string& from, const std::string& to) {
    WideString wideFrom, wideTo;
    if (!Utf8ToWide(from, wideFrom) || !Utf8ToWide(to, wideTo)) {
        errno = EINVAL;
        return false;
    }
    if (!MoveFileExW(wideFrom.c_str(), wideTo.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        errno = ErrnoFromLastError();
        return false;
    }
    return true;
}

bool RemoveFile(const std::string& path) {
    WideString wide;
    if (!Utf8ToWide(path, wide)) {
        errno = EINVAL;
        return false;
    }
    if (!DeleteFileW(wide.c_str())) {
        errno = ErrnoFromLastError();
        return false;
    }
    return true;
}

bool SyncFile(std::FILE* file) {
    return std::fflush(file) == 0 && _commit(_fileno(file)) == 0;
}

bool SeekFile(std::FILE* file, uint64_t offset) {
    return _fseeki64(file, static_cast<long long>(offset), SEEK_SET) == 0;
}
