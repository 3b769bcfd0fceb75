// The status exchange (StatusExchange.h) with TCP printers on an event loop: many printers read at
// once by one thread, the connect, each request and each answer waited for by the loop rather
// than by a thread blocked per printer (status, monitor and the console read fleets this way).
#pragma once

#include <functional>

#include "commands/PrinterStatus.h"
#include "transport/SendCmd.h"

namespace asio {
class io_context;
}  // namespace asio

/// Reads the status of the TCP printer at `options.port` on `io` as ReadPrinterStatus does (a
/// connection of its own connected within `options.connectTimeoutMs`, each request sent within
/// kWriteTimeoutMs, each answer read within `answerTimeoutMs`, the dialogue's rules), and calls
/// `done` with what it found, once, on the loop's thread and never before this returns.
void ReadTcpStatus(asio::io_context& io,
                   const SendOptions& options,
                   int answerTimeoutMs,
                   std::function<void(const PrinterStatus& status)> done);
