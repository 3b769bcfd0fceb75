// tolctl in the test's own process: RunTolctl with streams of the test's own (TolctlProgram.h
// starts the real program instead, where signals and descriptor limits matter).
#pragma once

#include <sstream>
#include <string>
#include <vector>

#include "system/OemText.h"
#include "tolctl/Tolctl.h"

struct TolctlResult {
    int code = -1;
    std::string out, err;
};

/// Runs `tolctl ARGS...` with `input` as its standard input. The code page is CP437 again
/// afterwards: a --codepage of one run must not leak into the next.
inline TolctlResult RunTolctlIn(std::vector<std::string> args, const std::string& input = "") {
    args.insert(args.begin(), "tolctl");
    std::istringstream in(input);
    std::ostringstream out, err;
    TolctlResult result;
    result.code = RunTolctl(args, in, out, err);
    SetOemCodePage("CP437");
    result.out = out.str();
    result.err = err.str();
    return result;
}

/// RunTolctlIn under the short name the tests use.
inline TolctlResult Tolctl(std::vector<std::string> args, const std::string& input = "") {
    return RunTolctlIn(std::move(args), input);
}
