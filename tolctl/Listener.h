// `tolctl listen`: a printer stand-in on TCP that shows what each connection delivers.
#pragma once

#include <iosfwd>
#include <string>

struct ListenOptions {
    std::string bind = "127.0.0.1";
    int port = 9100;       // 0: any free port (the first line says which)
    int count = 0;         // connections to serve; 0 = until interrupted
    int idleTimeout = 10;  // seconds a connection may stay silent before it is dropped
    std::string saveFile;  // when set, the raw bytes of every connection are appended to it
};

/// Listens, prints "listening on ADDR:PORT" first, then serves all connections at once. As each
/// one ends (the peer closed it, it stayed silent for `idleTimeout`, or the listener stopped) the
/// decoded commands of what it delivered are printed, one per line and all in one piece, followed
/// by a line in parentheses when it did not simply close: dropped as idle, reset, still open when
/// stopped, or more than 1 MiB (the rest is dropped and counted). SIGINT or SIGTERM ends it
/// cleanly, after what has arrived is printed and saved.
/// Answers tolctl's exit code: 0, 1 when it cannot listen or a write to the save file failed,
/// 2 for a bad address or a save file that cannot be opened.
int RunListener(const ListenOptions& options, std::ostream& out, std::ostream& err);
