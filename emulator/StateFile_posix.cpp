// The state file on POSIX: written beside the file, readable by its owner only, renamed over it.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <vector>

#include "StateFile.h"
#include "UniqueHandle.h"

int StateFile::Write() const {
    const std::string text = Text();

    std::vector<char> temp(m_path.begin(), m_path.end());
    for (const char c : std::string(".XXXXXX")) {
        temp.push_back(c);
    }
    temp.push_back('\0');
    UniqueFd fd(::mkostemp(temp.data(), O_CLOEXEC));
    if (!fd.Valid()) {
        return errno;
    }
    int error = 0;
    size_t done = 0;
    while (error == 0 && done < text.size()) {
        const ssize_t wrote = ::write(fd.Get(), text.data() + done, text.size() - done);
        if (wrote > 0) {
            done += static_cast<size_t>(wrote);
        } else if (wrote < 0 && errno != EINTR) {
            error = errno;
        } else if (wrote == 0) {
            error = EIO;
        }
    }
    if (error == 0 && ::fchmod(fd.Get(), 0600) != 0) {
        error = errno;
    }
    if (::close(fd.Release()) != 0 && error == 0) {
        error = errno;
    }
    if (error == 0 && ::rename(temp.data(), m_path.c_str()) != 0) {
        error = errno;
    }
    if (error != 0) {
        ::unlink(temp.data());
    }
    return error;
}
