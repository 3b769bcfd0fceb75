// Files on POSIX systems: the replacement of a file in one step, and scratch files.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "system/Files.h"

std::string TemporaryPathFor(const std::string& path) {
    return path + ".tmp-" + std::to_string(::getpid());
}

std::FILE* OpenScratchFileBeside(const std::string& path) {
    const std::string pattern = TemporaryPathFor(path) + "-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) {
        return nullptr;
    }
    ::unlink(name.data());  // gone from the folder: not even a kill leaves it behind
    std::FILE* file = ::fdopen(fd, "w+b");
    if (file == nullptr) {
        const int error = errno;
        ::close(fd);
        errno = error;
    }
    return file;
}

std::FILE* OpenNewFile(const std::string& path, bool secret) {
    const int fd =
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, secret ? 0600 : 0666);
    if (fd < 0) {
        return nullptr;
    }
    std::FILE* file = ::fdopen(fd, "wb");
    if (file == nullptr) {
        const int error = errno;
        ::close(fd);
        ::unlink(path.c_str());
        errno = error;
    }
    return file;
}

bool ProcessRuns(uint64_t id) {
    // Signal 0 only asks whether the process is there; another user's answers EPERM.
    return id > 0 && id <= INT_MAX && (::kill(static_cast<pid_t>(id), 0) == 0 || errno == EPERM);
}

bool PutFileInPlace(const std::string& from, const std::string& to) {
    return std::rename(from.c_str(), to.c_str()) == 0;
}

bool RemoveFile(const std::string& path) {
    return ::unlink(path.c_str()) == 0;
}

bool SyncFile(std::FILE* file) {
    return std::fflush(file) == 0 && ::fsync(::fileno(file)) == 0;
}

bool SeekFile(std::FILE* file, uint64_t offset) {
    return ::fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
}

std::FILE* OpenFile(const std::string& path, const char* mode) {
    return std::fopen(path.c_str(), mode);
}

const char kPathSeparators[] = "/";

bool IsRootedPath(const std::string& path) {
    return !path.empty() && path[0] == '/';
}
