// `tolctl listen`: the emulator (emulator/Emulator.h) on TCP, showing what each connection
// delivers; one virtual printer per address of --bind.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

struct ListenOptions {
    std::string bind = "127.0.0.1";   // an address, a range A.B.C.D-E or a network A.B.C.D/NN
    int port = 9100;                  // 0: any free port (the first line says which)
    int count = 0;                    // connections to serve; 0 = until interrupted
    int idleTimeout = 10;             // seconds a connection may stay silent before it is dropped
    std::string saveFile;             // when set, the raw bytes of every connection are appended to it
    std::string stateFile;            // when set, every printer's settings are kept in it as JSON
    std::vector<std::string> faults;  // ADDRESS=refuse|reset|stall|slow:MS|surplus|flood|banner
    // ADDRESS=paper-near-end|paper-end|cover-open|cutter-error|offline
    std::vector<std::string> conditions;
    std::string conditionsFile;  // lines ADDRESS=KIND over --condition's, read again as it changes
};

/// Listens on every address of `bind` (the same port on each), prints "listening on ADDR:PORT"
/// for each (or one "listening on FIRST-LAST:PORT (N printers)" line for many), then serves all
/// connections at once. As each one ends (the peer closed it, it stayed silent for
/// `idleTimeout`, or the emulator stopped) the decoded commands of what it delivered are
/// printed, one per line and all in one piece, each line led by "ADDR:PORT: " when there are
/// several printers, followed by a line in parentheses when it did not simply close: dropped as
/// idle, reset, still open when stopped, or more than 1 MiB (the rest is dropped and counted).
/// DLE EOT n is answered as it arrives with the status byte of the printer's condition.
/// SIGINT or SIGTERM (on Windows Ctrl-C) ends it cleanly, after what has arrived is printed and
/// saved.
/// Answers tolctl's exit code: 0, 1 when it cannot listen or a write to the save or state file
/// or to `out` failed (it stops at once when `out` fails), 2 for bad options or a save or state
/// file that cannot be opened or written.
int RunListen(const ListenOptions& options, std::ostream& out, std::ostream& err);
