// The state file on Windows: written beside the file and put in its place in one step.
#include <cerrno>
#include <cstdio>

#include "Files.h"
#include "StateFile.h"

int StateFile::Write() const {
    const std::string text = Text();
    const std::string temporary = TemporaryPathFor(m_path);
    std::FILE* file = OpenFile(temporary, "wb");
    if (file == nullptr) {
        return errno != 0 ? errno : EIO;
    }
    int error = 0;
    if (std::fwrite(text.data(), 1, text.size(), file) != text.size() || std::fflush(file) != 0) {
        error = errno != 0 ? errno : EIO;
    }
    if (std::fclose(file) != 0 && error == 0) {
        error = errno != 0 ? errno : EIO;
    }
    if (error == 0 && !PutFileInPlace(temporary, m_path)) {
        error = errno != 0 ? errno : EIO;
    }
    if (error != 0) {
        RemoveFile(temporary);
    }
    return error;
}
