// tolctl: the command-line companion that builds, sends and decodes printer commands.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

/// Exit codes that tolctl really returns.
enum TolctlExit {
    kExitOk = 0,       // done (with --dry-run: the bytes were printed)
    kExitPort = 1,     // the port could not be opened or the write failed
    kExitUsage = 2,    // usage error, or input refused before anything was sent
    kExitTimeout = 3,  // the write timed out
};

/// Runs tolctl with `args` (args[0] is the program name, the rest UTF-8 arguments).
/// Data goes to `out`, diagnostics to `err`; `in` is read by `decode -`.
int RunTolctl(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err);
