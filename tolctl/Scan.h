// `tolctl scan`: finds the addresses of a network whose printer port answers.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

struct ScanOptions {
    std::string network;  // A.B.C.D/NN, A.B.C.D-E or one address
    int tcpPort = 9100;
    int timeoutMs = 500;             // for each connect, and for the probe's answer
    int jobs = 256;                  // connects under way at once
    bool probe = false;              // send DLE EOT 1 and read the status byte
    std::string format = "targets";  // targets|json
};

/// Most connects a scan has under way at once.
constexpr int kMaxScanJobs = 1024;

/// What one address answered.
struct ScanAnswer {
    uint32_t address = 0;
    bool open = false;  // the connect succeeded within the time-out
    int status = -1;    // with a probe: the byte read back within the time-out, -1 when none
};

class Interrupts;

/// Tries every address on `options.tcpPort`: non-blocking connects, up to `options.jobs` at once,
/// each given `options.timeoutMs`. An address that accepts is closed again at once; with
/// `options.probe` it is first sent 10 04 01 and given `options.timeoutMs` to answer one byte.
/// Answers one entry per address, in the same order. After a stop request from `interrupts`
/// (looked at every 200 ms at least) the scan ends: an address not tried yet, or still
/// connecting, is not open; one that is awaiting its probe's answer has no status. False, with `error` saying
/// why, when the system would not let the scan run (no sockets at all). Platform code: Scan_posix / Scan_win.
bool ScanAddresses(const std::vector<uint32_t>& addresses,
                   const ScanOptions& options,
                   std::vector<ScanAnswer>& answers,
                   std::string& error,
                   const Interrupts* interrupts = nullptr);

/// Scans and prints the addresses that answered, in address order: as targets for `apply`
/// (`socket://A.B.C.D`, with `:PORT` when not 9100; with a probe followed by a comment
/// "# status 16" or "# status -"), or as a JSON array. "no printer answered" on `err` when none
/// did. SIGINT or SIGTERM (Ctrl-C) ends the scan early: what answered so far is printed the same
/// way. Answers tolctl's exit code: 0 when it ran, 1 when the system would not let it, 2 for a
/// bad network or format, 128 + the signal's number when a signal ended it (130 for SIGINT).
int RunScan(const ScanOptions& options, std::ostream& out, std::ostream& err);
