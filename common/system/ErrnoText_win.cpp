#include <windows.h>

#include "system/ErrnoText.h"

// FormatMessage ends its texts with ".\r\n" and starts them with a capital; the callers print
// them inside their own sentences ("COM1: the system cannot find the file specified").
std::string SystemErrorText(int code) {
    wchar_t* buffer = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::string text;
    if (length > 0 && buffer != nullptr) {
        const int bytes =
            WideCharToMultiByte(CP_UTF8, 0, buffer, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
        if (bytes > 0) {
            text.resize(static_cast<size_t>(bytes));
            WideCharToMultiByte(CP_UTF8, 0, buffer, static_cast<int>(length), &text[0], bytes, nullptr,
                                nullptr);
        }
    }
    if (buffer != nullptr) {
        LocalFree(buffer);
    }
    while (!text.empty() &&
           (text.back() == '\r' || text.back() == '\n' || text.back() == ' ' || text.back() == '.')) {
        text.pop_back();
    }
    if (text.empty()) {
        return "error " + std::to_string(code);
    }
    // "The system ..." becomes "the system ...", but an acronym such as "WSAStartup" stays.
    if (text[0] >= 'A' && text[0] <= 'Z' && (text.size() == 1 || (text[1] >= 'a' && text[1] <= 'z'))) {
        text[0] = static_cast<char>(text[0] - 'A' + 'a');
    }
    return text;
}
