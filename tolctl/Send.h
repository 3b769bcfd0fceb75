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

/// Opens the port, writes the command once and closes the port again. Answers tolctl's exit
/// code (0 sent, 1 no port or write failed, 3 timed out); failures are explained on `err`,
/// naming the port and the system's reason.
int SendToPort(const SendOptions& options, const Cmd& cmd, std::ostream& err);
