#include "ConsoleFiles.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "ErrnoText.h"
#include "Files.h"
#include "UserPlaces.h"

std::string DefaultStateDir() {
    return StatePath("console");
}

bool WritePrivateFile(const std::string& path, const std::string& bytes, std::string& problem) {
    bool given = false;
    return WritePrivateFileFrom(
        path,
        [&](std::string& piece) {
            piece = given ? std::string() : bytes;
            return !std::exchange(given, true);
        },
        problem);
}

bool WritePrivateFileFrom(const std::string& path,
                          const std::function<bool(std::string& piece)>& produce,
                          std::string& problem) {
    std::string temporary;
    std::FILE* file = CreateTemporaryFor(path, true, temporary);
    if (file == nullptr) {
        problem = "cannot write " + path + ": " + ErrnoText(errno);
        return false;
    }
    bool written = true;
    for (std::string piece; written && produce(piece);) {
        written = std::fwrite(piece.data(), 1, piece.size(), file) == piece.size();
    }
    written = written && SyncFile(file);
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
