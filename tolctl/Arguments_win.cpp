#include <fcntl.h>
#include <io.h>
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <cstdio>

#include "system/WideText.h"
#include "tolctl/Arguments.h"

std::vector<std::string> CommandLineArguments(int, char**) {
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
