#include <fcntl.h>
#include <io.h>
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <cstdio>

#include "Terminal.h"
#include "WideText.h"

std::vector<std::string> ProgramArguments(int, char**) {
    std::vector<std::string> args;
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    for (int i = 0; wide != nullptr && i < count; ++i) {
        args.push_back(WideToUtf8(wide[i]));
    }
    LocalFree(wide);
    _setmode(_fileno(stdin), _O_BINARY);
    return args;
}

bool StderrIsTerminal() {
    return _isatty(_fileno(stderr)) != 0;
}
