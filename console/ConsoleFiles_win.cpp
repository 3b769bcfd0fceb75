#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <cerrno>
#include <cstdio>
#include <utility>

#include "console/ConsoleFiles.h"
#include "system/ErrnoText.h"

namespace {

std::wstring Wide(const std::string& utf8) {
    const int size =
        ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(size), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &wide[0], size);
    return wide;
}

std::string Utf8(const std::wstring& wide) {
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                           nullptr, nullptr);
    std::string utf8(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), &utf8[0], size, nullptr,
                          nullptr);
    return utf8;
}

}  // namespace

bool ListFiles(const std::string& path, std::string& problem, std::vector<std::string>& names) {
    WIN32_FIND_DATAW found;
    const HANDLE find = ::FindFirstFileW(Wide(path + "\\*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
            return true;  // nothing kept yet
        }
        problem = "cannot read " + path + ": " + SystemErrorText(static_cast<int>(error));
        return false;
    }
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            names.push_back(Utf8(found.cFileName));
        }
    } while (::FindNextFileW(find, &found));
    ::FindClose(find);
    return true;
}

bool OpenInBrowser(const std::string& url, std::string& problem) {
    // https://learn.microsoft.com/windows/win32/api/shellapi/nf-shellapi-shellexecutew: a value
    // above 32 is success.
    const HINSTANCE result =
        ::ShellExecuteW(nullptr, L"open", Wide(url).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    if (reinterpret_cast<INT_PTR>(result) <= 32) {
        problem = "the browser could not be started (ShellExecute: " +
                  std::to_string(static_cast<long long>(reinterpret_cast<INT_PTR>(result))) + ")";
        return false;
    }
    return true;
}
