// Files on Windows: the replacement of a file in one step, and scratch files; names in UTF-8.
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <process.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>

#include "system/Files.h"
#include "system/WideText.h"

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
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS:
            return EEXIST;
        default:
            return EIO;
    }
}

// Makes `path` anew (CREATE_NEW: never a file that is there, nor a link's target) with `access`
// and `flags`, open as a C stream in `mode`; null with errno set on failure.
std::FILE* CreateNew(const std::string& path, DWORD access, DWORD flags, int fdFlags, const char* mode) {
    WideString wide;
    if (!Utf8ToWide(path, wide)) {
        errno = EINVAL;
        return nullptr;
    }
    const HANDLE handle =
        CreateFileW(wide.c_str(), access, FILE_SHARE_READ, nullptr, CREATE_NEW, flags, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        errno = ErrnoFromLastError();
        return nullptr;
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), fdFlags);
    if (fd < 0) {
        CloseHandle(handle);
        errno = EMFILE;
        return nullptr;
    }
    std::FILE* file = _fdopen(fd, mode);
    if (file == nullptr) {
        const int error = errno;
        _close(fd);
        errno = error;
    }
    return file;
}

}  // namespace

std::string TemporaryPathFor(const std::string& path) {
    return path + ".tmp-" + std::to_string(_getpid());
}

std::FILE* OpenNewFile(const std::string& path, bool /*secret*/) {
    // Its folder's permissions: the console's folders are the user's alone by inheritance.
    return CreateNew(path, GENERIC_WRITE, FILE_ATTRIBUTE_NORMAL, _O_WRONLY | _O_BINARY, "wb");
}

std::FILE* OpenScratchFileBeside(const std::string& path) {
    // Removed when closed, also when the process ends in any way.
    for (int tries = 0; tries < 100; ++tries) {
        std::FILE* file =
            CreateNew(TemporaryNameFor(path), GENERIC_READ | GENERIC_WRITE,
                      FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, _O_RDWR | _O_BINARY, "w+b");
        if (file != nullptr || errno != EEXIST) {
            return file;
        }
    }
    return nullptr;
}

bool ProcessRuns(uint64_t id) {
    if (id == 0 || id > MAXDWORD) {
        return false;
    }
    const HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(id));
    if (process == nullptr) {
        return GetLastError() == ERROR_ACCESS_DENIED;  // there, but not to be looked at
    }
    DWORD code = 0;
    const bool running = GetExitCodeProcess(process, &code) && code == STILL_ACTIVE;
    CloseHandle(process);
    return running;
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

std::FILE* OpenFile(const std::string& path, const char* mode) {
    WideString wide;
    WideString wideMode;
    if (!Utf8ToWide(path, wide) || !Utf8ToWide(mode, wideMode)) {
        errno = EINVAL;
        return nullptr;
    }
    std::FILE* file = nullptr;
    const errno_t code = _wfopen_s(&file, wide.c_str(), wideMode.c_str());
    if (code != 0) {
        errno = code;
        return nullptr;
    }
    return file;
}

const char kPathSeparators[] = "/\\";

bool IsRootedPath(const std::string& path) {
    // "\\server\share", "\folder" and "C:..." do not depend on the current folder alone.
    return !path.empty() && (path[0] == '/' || path[0] == '\\' || (path.size() >= 2 && path[1] == ':'));
}
