// Sends one built command to the port named by --port.
#pragma once

#include <iosfwd>
#include <string>

#include "PortUri.h"

class Cmd;

struct SendOptions {
    std::string portText;  // as typed, for the messages
    PortUri port;          // parsed
    int baud = 9600;       // serial ports without ?baud=, and COM1/COM2
    int connectTimeoutMs = 5000;
};

/// What became of one command.
struct SendOutcome {
    int code = 0;        // tolctl's exit code: 0 sent, 1 no port or write failed, 3 timed out
    std::string reason;  // when not sent: the system's reason, e.g. "connection refused"
    int error = 0;       // when not sent: the system's error code, 0 when there is none
};

/// Opens the port, writes the command once and closes the port again. With `awaitCloseMs` above
/// 0, a TCP port then ends the stream and waits up to that long for the printer to close its
/// side: a printer that resets the connection instead did not take the command (code 1), one
/// that still holds it at the bound is taken to have it. Other ports close at once.
SendOutcome SendCmd(const SendOptions& options, const Cmd& cmd, int awaitCloseMs = 0);

/// Opens the port, writes the command once and closes the port again. Answers tolctl's exit
/// code (0 sent, 1 no port or write failed, 3 timed out); failures are explained on `err`,
/// naming the port and the system's reason.
int SendToPort(const SendOptions& options, const Cmd& cmd, std::ostream& err);
