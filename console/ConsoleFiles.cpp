#include "ConsoleFiles.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "ErrnoText.h"
#include "Files.h"

bool WritePrivateFile(const std::string& path, const std::string& bytes, std::string& problem) {
    std::string temporary;
    std::FILE* file = CreateTemporaryFor(path, true, temporary);
    if (file == nullptr) {
        problem = "cannot write " + path + ": " + ErrnoText(errno);
        return false;
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size() && SyncFile(file);
    const int error = errno;
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed || !PutFileInPlace(temporary, path)) {
        problem = "cannot write " + path + ": " + ErrnoText(written && closed ? errno : error);
        RemoveFile(temporary);
        return false;
    }
    return true;
}

void RemoveLeftTemporaries(const std::string& path) {
    std::vector<std::string> names;
    std::string problem;
    ListFiles(path, problem, names);
    for (const std::string& name : names) {
        const uint64_t process = TemporaryFileProcess(name);
        if (process != 0 && !ProcessRuns(process)) {
            RemoveFile(path + "/" + name);
        }
    }
}
