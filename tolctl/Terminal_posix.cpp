#include <unistd.h>

#include "Terminal.h"

std::vector<std::string> ProgramArguments(int argc, char** argv) {
    return std::vector<std::string>(argv, argv + argc);
}

bool StderrIsTerminal() {
    return isatty(STDERR_FILENO) != 0;
}
