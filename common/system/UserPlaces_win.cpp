#include <windows.h>

#include <cerrno>
#include <vector>

#include "system/ErrnoText.h"
#include "system/UserPlaces.h"
#include "system/WideText.h"

namespace {

bool Wide(const std::string& utf8, std::wstring& wide) {
    WideString converted;
    if (!Utf8ToWide(utf8, converted)) {
        return false;
    }
    wide.assign(converted.begin(), converted.end());
    return true;
}

}  // namespace

std::string StatePath(const std::string& name) {
    std::string local;
    if (!EnvironmentValue("LOCALAPPDATA", local) || local.empty()) {
        return "";
    }
    return local + "\\tolctl\\" + name;
}

bool MakePrivateFolder(const std::string& path, std::string& problem) {
    // The folders under %LOCALAPPDATA% are the user's alone by inheritance.
    for (size_t cut = path.find_first_of("\\/", 3);; cut = path.find_first_of("\\/", cut + 1)) {
        const std::string part = path.substr(0, cut);
        std::wstring wide;
        if (!Wide(part, wide)) {
            problem = "cannot make " + part + ": not UTF-8";
            return false;
        }
        if (!::CreateDirectoryW(wide.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) {
            problem = "cannot make " + part + ": " + SystemErrorText(static_cast<int>(::GetLastError()));
            return false;
        }
        if (cut == std::string::npos) {
            return true;
        }
    }
}

bool EnvironmentValue(const std::string& name, std::string& value) {
    std::wstring wideName;
    if (!Wide(name, wideName)) {
        return false;
    }
    const DWORD size = ::GetEnvironmentVariableW(wideName.c_str(), nullptr, 0);
    if (size == 0) {
        return false;
    }
    std::vector<wchar_t> buffer(size);
    const DWORD got = ::GetEnvironmentVariableW(wideName.c_str(), buffer.data(), size);
    if (got == 0 || got >= size) {
        return false;
    }
    value = WideToUtf8(WideString(buffer.data(), got));
    return true;
}

std::string UserAtHost() {
    wchar_t user[257] = {};
    DWORD userSize = 257;
    wchar_t host[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD hostSize = MAX_COMPUTERNAME_LENGTH + 1;
    const std::string userText = ::GetUserNameW(user, &userSize) && user[0] != L'\0' ? WideToUtf8(user) : "?";
    const std::string hostText = ::GetComputerNameW(host, &hostSize) && host[0] != L'\0'
                                     ? WideToUtf8(WideString(host, hostSize))
                                     : "?";
    return userText + "@" + hostText;
}
