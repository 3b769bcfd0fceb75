// Finds the addresses of a network whose printer port answers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

/// How a scan tries each address.
struct ScanSettings {
    int tcpPort = 9100;
    int timeoutMs = 500;  // for each connect, and for the probe's answer
    int jobs = 256;       // connects under way at once
    bool probe = false;   // send DLE EOT 1 and read the status byte
};

/// Most connects a scan has under way at once.
constexpr int kMaxScanJobs = 1024;

/// What one address answered.
struct ScanAnswer {
    uint32_t address = 0;
    bool open = false;  // the connect succeeded within the time-out
    int status = -1;    // with a probe: the byte read back within the time-out, -1 when none
};

class StopRequest;

/// The target of an address that answered, as scan prints it: socket://A.B.C.D, with :PORT when
/// `tcpPort` is not 9100.
std::string ScanTargetName(uint32_t address, int tcpPort);

/// Tries every address on `settings.tcpPort`: non-blocking connects, up to `settings.jobs` at
/// once, each given `settings.timeoutMs`. An address that accepts is closed again at once; with
/// `settings.probe` it is first sent 10 04 01 and given `settings.timeoutMs` to answer one byte.
/// Answers one entry per address, in the same order. After a request to `stop` (looked at every
/// 200 ms at least) the scan ends: an address not tried yet, or still connecting, is not open;
/// one that is awaiting its probe's answer has no status. False, with `error` saying why, when
/// the system would not let the scan run (no sockets at all).
bool ScanAddresses(const std::vector<uint32_t>& addresses,
                   const ScanSettings& settings,
                   std::vector<ScanAnswer>& answers,
                   std::string& error,
                   const StopRequest* stop = nullptr);
