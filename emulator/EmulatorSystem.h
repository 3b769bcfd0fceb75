// Where the emulator's sockets and signals behave differently on POSIX and on Windows.
#pragma once

#include <asio/ip/tcp.hpp>

#include <system_error>

/// Lets a system call that a caught SIGINT or SIGTERM comes in the middle of go on, as it does
/// for a signal nobody catches: Asio's signal_set catches them without SA_RESTART, and the write
/// of a line of output that a Ctrl-C cut short would fail. Nothing to do on Windows, where Ctrl-C
/// is told on a thread of its own. Called after the signal_set took the signals.
void RestartCallsAfterStopSignals();

/// Sets up `listener` (open, not yet bound) so that a printer's port can be listened on again at
/// once after an earlier emulator: on POSIX SO_REUSEADDR, which still refuses a port that another
/// socket listens on; on Windows that option would let two sockets share it, so none is set.
void ShareListeningPort(asio::ip::tcp::acceptor& listener, std::error_code& error);
