// Sends one command to a port named by a port URI: opened, written once, closed again.
#pragma once

#include <functional>
#include <string>

#include "transport/BaudRates.h"
#include "transport/PortUri.h"

class Cmd;

/// Where and how one command is sent.
struct SendOptions {
    PortUri port;
    int baud = kBaudRates[0];  // serial ports without ?baud=, and COM1/COM2
    int connectTimeoutMs = 5000;
};

/// What became of one command.
struct SendOutcome {
    enum class Result {
        Sent,
        Failed,    // the port could not be opened, or the write failed
        TimedOut,  // the write did not complete in time: the command may be cut short
    };
    Result result = Result::Sent;
    std::string reason;  // when not sent: the system's reason, e.g. "connection refused"
    int error = 0;       // when not sent: the system's error code, 0 when there is none

    bool Sent() const { return result == Result::Sent; }
};

/// Called once the port is open, before the first byte is written: false when the command must
/// not be sent after all, with the reason in its argument (the fleet record could not note it).
using BeforeWrite = std::function<bool(std::string& reason)>;

/// Opens the port, writes the command once and closes the port again. With `awaitCloseMs` above
/// 0, a TCP port then ends the stream and waits up to that long for the printer to close its
/// side: a printer that resets the connection instead did not take the command (Failed), one
/// that still holds it at the bound is taken to have it. Other ports close at once.
/// `beforeWrite`, when given, is asked between the opening and the writing; when it answers false
/// nothing is written (Failed with its reason).
SendOutcome SendCmd(const SendOptions& options,
                    const Cmd& cmd,
                    int awaitCloseMs = 0,
                    const BeforeWrite& beforeWrite = nullptr);
