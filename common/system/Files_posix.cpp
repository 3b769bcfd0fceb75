// Files on POSIX systems: the replacement of a file in one step, and scratch files.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "Files.h"

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
