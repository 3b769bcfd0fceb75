// The status exchange: a printer asked for its real-time status through its port. Beside the
// messengers, which only write: DLE EOT 1, 2, 3 and 4 (10 04 n) are sent one after the other on
// one connection or one open of the port, and one byte is read after each. Nothing else is sent.
#pragma once

#include "commands/PrinterStatus.h"
#include "transport/SendCmd.h"

/// Most milliseconds an answer may be waited for.
constexpr int kMaxStatusAnswerMs = 600000;

/// Asks the printer at `options.port` for its status and decodes the answers (PrinterStatus.h).
/// A missing answer ends the exchange: a late one would be taken for the answer to the next
/// request. What has come back unasked is dropped before each request, without waiting: before
/// the first (a banner) it is only dropped; after an answer it makes the device not-a-printer
/// (more than one byte for one request, a flood), never conditions. Bytes that came with the
/// first answer may be a banner that arrived late: once the device has been quiet for 100 ms
/// (at most 1 s) the requests start again, once. A connection reset is no-answer wherever it is
/// seen, at the connect too. By port:
///   TCP: a connection of its own, connected within `options.connectTimeoutMs`; each request
///        sent within kWriteTimeoutMs and its answer read within `answerTimeoutMs`.
///   serial: the serial transport's Write and Read (ComMessenger): each answer as its Read takes
///        it, in looks 100 ms apart (`answerTimeoutMs` does not apply).
///   USB: the printer that the USB search keeps (or usb:DEVICE on POSIX), opened for reading and
///        writing; writes bounded as the transports bound them, answers by `answerTimeoutMs`.
///   parallel: opened and closed again, nothing sent; a parallel port gives no answers
///        (no-answer).
/// A port that cannot be opened or connected is unreachable, with the system's reason.
PrinterStatus ReadPrinterStatus(const SendOptions& options, int answerTimeoutMs);
