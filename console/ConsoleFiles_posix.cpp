#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <utility>

#include "console/ConsoleFiles.h"
#include "system/ErrnoText.h"

extern char** environ;

bool ListFiles(const std::string& path, std::string& problem, std::vector<std::string>& names) {
    DIR* dir = ::opendir(path.c_str());
    if (dir == nullptr) {
        if (errno == ENOENT) {
            return true;  // nothing kept yet
        }
        problem = "cannot read " + path + ": " + ErrnoText(errno);
        return false;
    }
    while (const dirent* entry = ::readdir(dir)) {
        struct stat info {};
        const std::string name = entry->d_name;
        if (::stat((path + "/" + name).c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
            names.push_back(name);
        }
    }
    ::closedir(dir);
    return true;
}

bool OpenInBrowser(const std::string& url, std::string& problem) {
    // xdg-open returns once the browser is started (or at once, handing it to one that runs);
    // it is waited for on a thread of its own so that no zombie is left.
    std::string program = "xdg-open";
    char* argv[] = {program.data(), const_cast<char*>(url.c_str()), nullptr};
    pid_t pid = 0;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);  // our stdout is data
    const int error = ::posix_spawnp(&pid, program.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
        problem = "cannot start xdg-open: " + ErrnoText(error);
        return false;
    }
    std::thread([pid] {
        int status = 0;
        ::waitpid(pid, &status, 0);
    }).detach();
    return true;
}
