// tolctl's entry point: gathers the arguments as UTF-8 and runs the tool.
#include <iostream>
#include <string>
#include <vector>

#include "tolctl/Arguments.h"
#include "tolctl/Output.h"
#include "tolctl/Tolctl.h"

int main(int argc, char** argv) {
    // Standard output through a buffer that keeps why a write failed, for tolctl to say so.
    StdoutBuffer output;
    std::streambuf* const standard = std::cout.rdbuf(&output);
    const int code = RunTolctl(CommandLineArguments(argc, argv), std::cin, std::cout, std::cerr);
    std::cout.rdbuf(standard);
    return code;
}
