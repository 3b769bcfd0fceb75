// tolctl's entry point: gathers the arguments as UTF-8 and runs the tool.
#include <iostream>
#include <string>
#include <vector>

#include "tolctl/Output.h"
#include "tolctl/Tolctl.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include "system/WideText.h"

// The wide command line, so that text arguments keep every character whatever the ANSI code page.
static std::vector<std::string> Arguments(int, char**) {
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
#else
static std::vector<std::string> Arguments(int argc, char** argv) {
    return std::vector<std::string>(argv, argv + argc);
}
#endif

int main(int argc, char** argv) {
    // Standard output through a buffer that keeps why a write failed, for tolctl to say so.
    StdoutBuffer output;
    std::streambuf* const standard = std::cout.rdbuf(&output);
    const int code = RunTolctl(Arguments(argc, argv), std::cin, std::cout, std::cerr);
    std::cout.rdbuf(standard);
    return code;
}
