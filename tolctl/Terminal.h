// What tolctl takes from the process it runs in, as each platform gives it: its arguments and
// whether standard error is a terminal (Terminal_posix.cpp / Terminal_win.cpp).
#pragma once

#include <string>
#include <vector>

/// The program's arguments as UTF-8. On Windows they come from the wide command line, so that text
/// arguments keep every character whatever the ANSI code page, and standard input is made binary
/// (a profile or bytes piped in are read as they are).
std::vector<std::string> ProgramArguments(int argc, char** argv);

/// Whether standard error is a terminal, where a progress line may be drawn.
bool StderrIsTerminal();
