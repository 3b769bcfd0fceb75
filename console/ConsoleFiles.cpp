#include "console/ConsoleFiles.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "system/Files.h"
#include "system/UserPlaces.h"

std::string DefaultStateDir() {
    return StatePath("console");
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
