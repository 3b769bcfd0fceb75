// The program's arguments as UTF-8, as each platform gives them (Arguments_posix / _win).
#pragma once

#include <string>
#include <vector>

/// The arguments of the command line, the program's name first, each as UTF-8. On Windows they
/// are read from the wide command line, so that text keeps every character whatever the ANSI
/// code page, and standard input is set to binary.
std::vector<std::string> CommandLineArguments(int argc, char** argv);
