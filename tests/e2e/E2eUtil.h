// Shared pieces of the dialog end-to-end tests.
#pragma once

#include <windows.h>

#include <string>

/// A Linux path as Wine sees it through its Z: drive.
inline std::wstring WinePath(const char* unixPath) {
    std::wstring path = L"Z:";
    for (const char* c = unixPath; *c != '\0'; ++c) {
        path += *c == '/' ? L'\\' : static_cast<wchar_t>(*c);
    }
    return path;
}

/// Bytes of a string of hex pairs ("1d 56 01").
inline std::string Hex(const char* pairs) {
    std::string bytes;
    unsigned value = 0;
    int digits = 0;
    for (const char* c = pairs; *c != '\0'; ++c) {
        const char ch = *c;
        int nibble = -1;
        if (ch >= '0' && ch <= '9')
            nibble = ch - '0';
        if (ch >= 'a' && ch <= 'f')
            nibble = ch - 'a' + 10;
        if (ch >= 'A' && ch <= 'F')
            nibble = ch - 'A' + 10;
        if (nibble < 0)
            continue;
        value = value * 16 + static_cast<unsigned>(nibble);
        if (++digits == 2) {
            bytes += static_cast<char>(value);
            value = 0;
            digits = 0;
        }
    }
    return bytes;
}

/// "a.b.c.d" of an address value.
inline std::string Dotted(DWORD v) {
    return std::to_string(v >> 24) + "." + std::to_string((v >> 16) & 0xFF) + "." +
           std::to_string((v >> 8) & 0xFF) + "." + std::to_string(v & 0xFF);
}

/// The 111 bytes of the connection-test print.
inline std::string TestPrintBytes() {
    std::string bytes =
        "Congratulations that the printer is connect success,you can configure the printer now.";
    for (int i = 0; i < 12; ++i) {
        bytes += "\r\n";
    }
    bytes += '\0';
    return bytes;
}
