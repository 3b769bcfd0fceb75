// `tolctl listen`: a printer stand-in on TCP that shows what each connection delivers.
#pragma once

#include <iosfwd>
#include <string>

struct ListenOptions {
    std::string bind = "127.0.0.1";
    int port = 9100;       // 0: any free port (the first line says which)
    int count = 0;         // connections to serve; 0 = until interrupted
    std::string saveFile;  // when set, the raw bytes of every connection are appended to it
};

/// Listens, prints "listening on ADDR:PORT" first, then for each connection the decoded commands
/// of everything read until the peer closed, one per line. SIGINT (or SIGTERM) ends it cleanly.
/// Answers tolctl's exit code: 0, 1 when it cannot listen, 2 for a bad address or save file.
int RunListener(const ListenOptions& options, std::ostream& out, std::ostream& err);
