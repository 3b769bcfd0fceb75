#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "system/ErrnoText.h"
#include "system/UserPlaces.h"

std::string StatePath(const std::string& name) {
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state != nullptr && state[0] == '/') {
        return std::string(state) + "/tolctl/" + name;
    }
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] != '\0') {
        return std::string(home) + "/.local/state/tolctl/" + name;
    }
    return "";
}

bool MakePrivateFolder(const std::string& path, std::string& problem) {
    for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        const std::string part = path.substr(0, slash);
        if (!part.empty() && ::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
            problem = "cannot make " + part + ": " + ErrnoText(errno);
            return false;
        }
        if (slash == std::string::npos) {
            return true;
        }
    }
}

bool EnvironmentValue(const std::string& name, std::string& value) {
    const char* found = std::getenv(name.c_str());
    if (found == nullptr) {
        return false;
    }
    value = found;
    return true;
}

std::string UserAtHost() {
    std::string user = "?";
    const passwd* entry = ::getpwuid(::getuid());
    if (entry != nullptr && entry->pw_name != nullptr && entry->pw_name[0] != '\0') {
        user = entry->pw_name;
    } else if (const char* name = std::getenv("USER")) {
        user = name;
    }
    char host[256] = {};
    if (::gethostname(host, sizeof host - 1) != 0 || host[0] == '\0') {
        return user + "@?";
    }
    return user + "@" + host;
}
