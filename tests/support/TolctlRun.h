// tolctl in the test's own process: RunTolctl with streams of the test's own (TolctlProgram.h
// starts the real program instead, where signals and descriptor limits matter).
#pragma once

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "system/OemText.h"
#include "tests/support/TempFolder.h"
#include "tolctl/Tolctl.h"

/// The fleet record of the tolctl that tests run, in a folder of the test process's own: never
/// the user's (TOLCTL_RECORD is set for this process and the programs it starts, unless a test
/// set it already). The folder goes when the process ends.
inline void KeepTestRecordApart() {
    static TempFolder folder("tolctl-test-record-");
    const char* set = std::getenv("TOLCTL_RECORD");
    if (set != nullptr && *set != '\0') {
        return;
    }
    const std::string path = folder.Path("record.sqlite");
#ifdef _WIN32
    _putenv_s("TOLCTL_RECORD", path.c_str());
#else
    setenv("TOLCTL_RECORD", path.c_str(), 1);
#endif
}

struct TolctlResult {
    int code = -1;
    std::string out, err;
};

/// Runs `tolctl ARGS...` with `input` as its standard input. The code page is CP437 again
/// afterwards: a --codepage of one run must not leak into the next.
inline TolctlResult RunTolctlIn(std::vector<std::string> args, const std::string& input = "") {
    KeepTestRecordApart();
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
