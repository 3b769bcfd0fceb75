#include "tests/e2e/CapturedPort.h"

#include <windows.h>

#include <cstdlib>

CapturedPort::CapturedPort(const char* variable) {
    const char* path = std::getenv(variable);
    if (path == nullptr || *path == '\0') {
        return;
    }
    m_path = L"Z:";
    for (const char* c = path; *c != '\0'; ++c) {
        m_path += *c == '/' ? L'\\' : static_cast<wchar_t>(*c);
    }
}

std::string CapturedPort::Take(size_t count, int timeoutMs) {
    std::string all;
    for (int waited = 0;; waited += 20) {
        HANDLE file = CreateFileW(m_path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
        all.clear();
        if (file != INVALID_HANDLE_VALUE) {
            char buffer[4096];
            DWORD got = 0;
            while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) {
                all.append(buffer, got);
            }
            CloseHandle(file);
        }
        if (all.size() >= m_read + count || waited >= timeoutMs) {
            break;
        }
        Sleep(20);
    }
    std::string fresh = all.size() > m_read ? all.substr(m_read) : std::string();
    m_read = all.size();
    return fresh;
}
