// Wide text as the dialogs hold it: UTF-16 on every platform.
#pragma once

#include <string>

#ifdef _WIN32
using WideChar = wchar_t;  // 16-bit on Windows, so the edit fields' text passes unchanged
#else
using WideChar = char16_t;  // never the 32-bit wchar_t of POSIX systems
#endif
using WideString = std::basic_string<WideChar>;

static_assert(sizeof(WideChar) == 2, "command text is counted in UTF-16 code units");

/// Converts UTF-8 to UTF-16. Returns false (and leaves `out` empty) for malformed UTF-8.
bool Utf8ToWide(const std::string& utf8, WideString& out);

/// Converts UTF-16 to UTF-8; a lone surrogate becomes U+FFFD.
std::string WideToUtf8(const WideString& wide);

/// ASCII-only literal helper for code that builds wide text from narrow constants.
WideString WidenAscii(const std::string& ascii);
